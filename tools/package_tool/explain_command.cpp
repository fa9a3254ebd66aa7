// setup-package explain: what each code means.
#include <cstdio>
#include <memory>

#include "tools/packaging/codes.h"
#include "tools/package_tool/commands.h"
#include "tools/package_tool/report.h"

namespace tool {

Runner AddExplain(CLI::App& app, const Common& common) {
  auto code = std::make_shared<std::string>();
  CLI::App* sub = app.add_subcommand(
      "explain",
      "Says what a code means: the problem codes of inspect and verify (problemCodes in JSON)\n"
      "and the reason of each verify row (reason in JSON). Without a code, lists them all.");
  sub->add_option("CODE", *code, "a code, such as crc-mismatch");
  return [code, &common]() {
    for (const packaging::Code& c : packaging::AllCodes()) {
      if (!code->empty() && *code != c.name) continue;
      if (!common.quiet) std::printf("%s (%s)\n  %s\n", c.name, c.kind, c.meaning);
      if (!code->empty()) return kExitFine;
    }
    return code->empty() ? kExitFine : Fail(kExitUsage, "explain: no code '" + Escaped(*code) + "' (see explain)");
  };
}

}  // namespace tool
