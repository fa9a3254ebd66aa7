// Each decoded program checked for its slot.
#include "tools/packaging/program_check.h"

#include <string>

#include "host/pe_image.h"
#include "tools/packaging/codes.h"
#include "tools/packaging/launcher_memory.h"

namespace packaging {

void CheckPrograms(host::ByteView file, PackageView* v, ProgramSlot* slot32, ProgramSlot* slot64) {
  if (!v->headerRead) return;
  struct Slot {
    const launcher::PayloadEntry& entry;
    const char* name;
    uint16_t machine;
    ProgramSlot* out;
  };
  const launcher::PayloadEntry& e64 = v->header.payload64;
  for (const Slot& s : {Slot{v->header.payload32, "32-bit payload", pe::kMachineI386, slot32},
                        Slot{e64, "64-bit payload", pe::kMachineAmd64, slot64}}) {
    if (s.entry.offset == 0 || (s.machine == pe::kMachineAmd64 && s.entry.offset == launcher::kNotFor64BitWindows)) {
      continue;
    }
    ProgramSlot local;
    ProgramSlot* slot = s.out != nullptr ? s.out : &local;
    slot->decoded = DecodeEntry(file, v->header, s.entry, slot->sink, slot->progress);
    const Decoded& d = slot->decoded;
    std::string memory = d.read ? ReplayedMemoryError(s.entry, v->header, d) : "";
    if (memory.empty() && OutOfMemory(d.message)) memory = d.message;
    if (!memory.empty()) {
      AddProblem(v, ProblemCode::kPayloadOutOfMemory, std::string(s.name) + ": decoding it takes more memory than the launcher can have in " +
                            "one block: it ends with \"" + memory + "\" (runtime error 203, out of memory)");
      continue;
    }
    if (!d.ok) {
      AddProblem(v, ProblemCode::kPayloadRefused, std::string(s.name) + ": the launcher refuses it with \"" + d.message +
                            "\" (its stream does not decode to the recorded " +
                            std::to_string(s.entry.uncompressedSize) + " bytes)");
      continue;
    }
    std::string problem, as32;
    if (pe::CheckProgram(d.head.View(), uint64_t(d.produced), s.machine, &problem)) continue;
    if (s.machine == pe::kMachineAmd64 && pe::CheckProgram(d.head.View(), uint64_t(d.produced), pe::kMachineI386, &as32)) {
      AddProblem(v, ProblemCode::kProgram32BitIn64BitSlot, std::string(s.name) +
                     ": an i386 (32-bit) program: 64-bit Windows starts it as a 32-bit program, not the 64-bit "
                     "one the slot is for");
      continue;
    }
    AddProblem(v, ProblemCode::kProgramNotStartable, std::string(s.name) + ": " + problem + ": Windows will not start it");
  }
}

}  // namespace packaging
