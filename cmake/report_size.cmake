# Prints the size of the built launcher image against its budget.
file(SIZE "${IMAGE}" size)
math(EXPR kib "${size} / 1024")
get_filename_component(name "${IMAGE}" NAME)
message(STATUS "${name}: ${size} bytes (${kib} KiB; budget ${BUDGET} bytes)")
