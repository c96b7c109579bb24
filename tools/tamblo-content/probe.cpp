#include "tools/tamblo-content/probe.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

#include "media/content_recognition.h"
#include "media/image_library.h"
#include "tools/tamblo-content/commands.h"

namespace tamblo::content_tool {
namespace {

namespace fs = std::filesystem;

constexpr int kDecodeDepth = 24;

std::optional<std::vector<std::uint8_t>> ReadWhole(const fs::path& path, std::string& why) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    why = "cannot open the file";
    return std::nullopt;
  }
  std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
  if (in.bad()) {
    why = "cannot read the file";
    return std::nullopt;
  }
  return bytes;
}

bool IsPictureKind(const std::string& kind) {
  for (const char* k : {"PNG", "TIF", "GIF", "PCX", "TGA", "EPS", "BMP", "PCD", "DXF", "JPG"}) {
    if (kind == k) return true;
  }
  return false;
}

// Decodes and writes DIR/<name>.png; answers the failure's text, empty on success.
std::string Decode(const std::string& kind, const std::vector<std::uint8_t>& bytes,
                   const fs::path& target) {
  media::TReadOptions options;
  options.Depth = kDecodeDepth;
  media::TDibHandle dib = media::ReadPicture(kind, bytes, options);
  if (!dib) return media::LastLibraryError().Text;
  // PNG rarely outgrows the raw pixels; twice that plus room for the headers
  // never fails for want of space.
  const std::size_t capacity = std::size_t{dib->size} * 2 + 65536;
  auto png = media::WritePicture(media::TWriteFormat::Png, *dib, capacity, {});
  if (!png) return media::LastLibraryError().Text;
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(png->data()), static_cast<std::streamsize>(png->size()));
  out.close();
  if (!out) return "cannot write " + target.string();
  return {};
}

}  // namespace

int Probe(const std::vector<std::string>& files, const std::optional<fs::path>& decodeDir,
          std::ostream& out, std::ostream& err) {
  if (decodeDir) {
    std::error_code ec;
    fs::create_directories(*decodeDir, ec);
    if (ec || !fs::is_directory(*decodeDir)) {
      err << "tamblo-content: cannot make the directory " << decodeDir->string() << "\n";
      return kExitFailed;
    }
  }
  int status = kExitOk;
  for (const std::string& file : files) {
    auto fail = [&](const std::string& why) {
      err << "tamblo-content: " << file << ": " << why << "\n";
      status = kExitFailed;
    };
    std::string why;
    const auto bytes = ReadWhole(file, why);
    if (!bytes) {
      fail(why);
      continue;
    }
    if (bytes->empty()) {
      fail("the file is empty");
      continue;
    }
    media::TContentInfo info;
    try {
      const media::TRecognition recognition = media::RecognizeBytes(*bytes, 1, info);
      if (recognition.Failed) {
        fail(media::LastLibraryError().Text);
        continue;
      }
      if (!IsPictureKind(recognition.Kind)) {
        fail("not a picture (" + info.FormatName + ")");
        continue;
      }
      out << nlohmann::ordered_json{{"file", file},
                            {"format", info.FormatName},
                            {"class", info.FormatClass},
                            {"width", info.Width},
                            {"height", info.Height},
                            {"bits", info.Bits},
                            {"pages", recognition.Kind == "TIF" ? info.TiffPages : 1}}
                 .dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
          << "\n";
      if (decodeDir) {
        const std::string failure =
            Decode(recognition.Kind, *bytes, *decodeDir / (fs::path(file).filename().string() + ".png"));
        if (!failure.empty()) fail(failure);
      }
    } catch (const media::ErrorInvalid& e) {
      // The library itself is missing: no later file can do better.
      err << "tamblo-content: " << e.what() << "\n";
      return kExitFailed;
    }
  }
  out.flush();
  if (!out) {
    err << "tamblo-content: cannot write the output\n";
    return kExitFailed;
  }
  return status;
}

}  // namespace tamblo::content_tool
