// Writes the starting corpora of fuzz_wav (recordings in the forms teachers'
// files come in) and fuzz_media (a blob of every kind the recognition names,
// and DIB blocks taken from the picture fuzzer's seeds).
//   make_sound_seeds <corpus folder>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <string>
#include <vector>

#include "testing/media_harness.h"
#include "testing/sound_samples.h"

namespace {

namespace fs = std::filesystem;
using namespace media::sound_samples;

void Write(const fs::path& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes Read(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// A wave whose samples hold a 440 Hz tone at half scale, so levelling has
// something to do; the other formats keep their silence.
Bytes Tone(const TWaveFormat& f, std::uint32_t frames = 400) {
  Bytes b = Wave(f, frames);
  const int tag = f.subTag >= 0 ? f.subTag : f.tag;
  const std::size_t start = b.size() - frames * static_cast<std::size_t>(f.channels * f.bits / 8);
  for (std::uint32_t i = 0; i < frames * static_cast<std::uint32_t>(f.channels); ++i) {
    const double v = 0.5 * std::sin(2 * std::numbers::pi * 440 * (i / f.channels) / f.rate);
    std::uint8_t* p = b.data() + start + i * static_cast<std::size_t>(f.bits / 8);
    Bytes sample;
    if (tag == 3 && f.bits == 32) Put(sample, std::bit_cast<std::uint32_t>(static_cast<float>(v)), 4);
    else if (tag == 1 && f.bits == 16) Put(sample, static_cast<std::uint32_t>(std::lround(v * 32767)), 2);
    else if (tag == 1 && f.bits == 8) Put(sample, static_cast<std::uint32_t>(128 + std::lround(v * 127)), 1);
    std::copy(sample.begin(), sample.end(), p);
  }
  return b;
}

Bytes Text(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes WithControl(std::uint8_t control, const Bytes& bytes) {
  Bytes out{control};
  out.insert(out.end(), bytes.begin(), bytes.end());
  return out;
}

// The header of a placeable metafile: its key, a box, units per inch and the
// check word over the ten words before it.
Bytes Placeable() {
  Bytes b;
  Put(b, 0x9AC6CDD7u, 4);
  Put(b, 0, 2);
  for (std::uint32_t v : {0u, 0u, 1440u, 720u}) Put(b, v, 2);
  Put(b, 1440, 2);
  Put(b, 0, 4);
  std::uint16_t sum = 0;
  for (int i = 0; i < 10; ++i) sum ^= static_cast<std::uint16_t>(b[2 * i] | b[2 * i + 1] << 8);
  Put(b, sum, 2);
  b.resize(64, 0);
  return b;
}

Bytes Enhanced() {
  Bytes b;
  Put(b, 1, 4);
  Put(b, 108, 4);
  b.resize(24, 0);
  for (std::uint32_t v : {0u, 0u, 2540u, 1270u}) Put(b, v, 4);
  Put(b, " EMF");
  b.resize(120, 0);
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_sound_seeds <corpus folder>\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  const fs::path wav = corpus / "fuzz_wav", media = corpus / "fuzz_media";
  fs::create_directories(wav);
  fs::create_directories(media);

  Bytes listed = Tone({});
  const Bytes list = {'L', 'I', 'S', 'T', 3, 0, 0, 0, 'a', 'b', 'c', 0};
  listed.insert(listed.begin() + 36, list.begin(), list.end());
  Bytes unsized = Tone({});
  for (std::size_t i = 40; i < 44; ++i) unsized[i] = 0xFF;
  Write(wav / "seed-pcm16", Tone({}));
  Write(wav / "seed-pcm8", Tone({.bits = 8}));
  Write(wav / "seed-pcm24-stereo", Wave({.channels = 2, .rate = 44100, .bits = 24}, 100));
  Write(wav / "seed-pcm32", Wave({.bits = 32}, 200));
  Write(wav / "seed-float32", Tone({.tag = 3, .bits = 32}));
  Write(wav / "seed-float64", Wave({.tag = 3, .rate = 48000, .bits = 64}, 100));
  Write(wav / "seed-extensible", Tone({.bits = 16, .subTag = 1}));
  Write(wav / "seed-list-chunk", listed);
  Write(wav / "seed-size-unfilled", unsized);

  const std::uint8_t plain = media::fuzzing::Control(0, false, 1);
  const Bytes midi = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0, 0, 1, 0, 0x60, 'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, 0xFF, 0x2F, 0};
  Bytes riffMidi = Text(std::string_view("RIFF\x1e\0\0\0RMIDdata\x1a\0\0\0", 20));
  riffMidi.insert(riffMidi.end(), midi.begin(), midi.end());
  const struct {
    const char* name;
    Bytes bytes;
  } blobs[] = {
      {"seed-wave", Tone({})},
      {"seed-wave-float", Tone({.tag = 3, .bits = 32}, 50)},
      {"seed-wave-mulaw", Wave({.tag = 7, .bits = 8}, 50)},
      {"seed-voc", Voc(100)},
      {"seed-midi", midi},
      {"seed-rmi", riffMidi},
      {"seed-avi", Text(std::string_view("RIFF\x24\0\0\0AVI LIST\x04\0\0\0hdrl", 24))},
      {"seed-mov", Text(std::string_view("\0\0\0\x08wide\0\0\0\x10mdat", 16))},
      {"seed-banner", Text("mordazub Tamblo\r\n")},
      {"seed-rtf", Text("{\\rtf1\\ansi Tamblo}")},
      {"seed-dxf", Text("0\nSECTION\n2\nHEADER\n9\n$EXTMAX\n10\n100\n20\n50\n0\nENDSEC\n0\nEOF\n")},
      {"seed-placeable", Placeable()},
      {"seed-enhanced", Enhanced()},
  };
  for (const auto& blob : blobs) Write(media / blob.name, WithControl(plain, blob.bytes));
  // Pictures and blocks: the picture fuzzer's seeds, each at another depth.
  int slot = 0;
  for (const char* name : {"seed-png", "seed-bmp8", "seed-gif", "seed-jpeg", "seed-tga24", "seed-dib1", "seed-dib4",
                           "seed-dib8", "seed-dib16", "seed-dib24", "seed-dib32", "seed-dib-rle4", "seed-dib-rle8"}) {
    const Bytes picture = Read(corpus / "fuzz_pictures" / name);
    if (picture.empty()) continue;
    Bytes bytes(picture.begin() + 1, picture.end());
    Write(media / name, WithControl(media::fuzzing::Control(slot % 4, slot % 3 == 0, 1), bytes));
    ++slot;
  }
  // The graphic header some blobs carry before a picture.
  const Bytes png = Read(corpus / "fuzz_pictures" / "seed-png");
  if (!png.empty()) {
    Bytes wrapped;
    Put(wrapped, 1, 2);
    Put(wrapped, 256, 2);
    Put(wrapped, static_cast<std::uint32_t>(png.size() - 1), 4);
    wrapped.insert(wrapped.end(), png.begin() + 1, png.end());
    Write(media / "seed-png-graphic-header", WithControl(plain, wrapped));
  }
  return 0;
}
