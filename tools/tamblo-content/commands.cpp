#include "tools/tamblo-content/commands.h"

#include <optional>

#include "tools/tamblo-content/build.h"
#include "tools/tamblo-content/check.h"
#include "tools/tamblo-content/probe.h"

namespace tamblo::content_tool {
namespace {

constexpr const char* kUsage =
    "usage: tamblo-content probe FILE... [--decode DIR]\n"
    "       tamblo-content build --data DIR --out DIR [--jobs N]\n"
    "       tamblo-content build --words FILE --table NAME --out DIR [--strict] [--jobs N]\n"
    "       tamblo-content check DIR [--table NAME]\n"
    "       tamblo-content check --words FILE --table NAME [--strict]\n"
    "       tamblo-content check --explain WORD\n"
    "  probe   one JSON line per picture: format, class, width, height, bits, pages;\n"
    "          --decode DIR also writes each picture, decoded, as DIR/<file name>.png\n"
    "  build   makes the five tables from the lists in --data, or one word table\n"
    "          (Blend, SVowel, LVowel or Conson) from a list of your own, checks\n"
    "          them and only then puts them in --out\n"
    "  check   opens the tables in DIR as the game does and names every problem,\n"
    "          each gap not heard as the sound its puzzle teaches among them;\n"
    "          --words checks a list of your own, where such a gap is a warning\n"
    "          unless --strict (for build --words too); --explain shows how one\n"
    "          word is heard and cut\n";

}  // namespace

int RunContentTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    (args.empty() ? err : out) << kUsage;
    return args.empty() ? kExitUsage : kExitOk;
  }
  if (args[0] == "probe") {
    std::vector<std::string> files;
    std::optional<std::filesystem::path> decodeDir;
    for (std::size_t i = 1; i < args.size(); ++i) {
      if (args[i] == "--decode") {
        if (i + 1 == args.size()) {
          err << "tamblo-content: --decode needs a directory\n" << kUsage;
          return kExitUsage;
        }
        decodeDir = args[++i];
      } else if (args[i].starts_with("--")) {
        err << "tamblo-content: unknown option " << args[i] << "\n" << kUsage;
        return kExitUsage;
      } else {
        files.push_back(args[i]);
      }
    }
    if (files.empty()) {
      err << "tamblo-content: probe needs at least one file\n" << kUsage;
      return kExitUsage;
    }
    return Probe(files, decodeDir, out, err);
  }
  if (args[0] == "build") return BuildCommand(args, out, err, kUsage);
  if (args[0] == "check") return CheckCommand(args, out, err, kUsage);
  err << "tamblo-content: unknown command " << args[0] << "\n" << kUsage;
  return kExitUsage;
}

}  // namespace tamblo::content_tool
