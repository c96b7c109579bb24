#include "tools/tamblo-content/phonics.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>
#include <sstream>

#include "content/puzzle_gaps.h"

namespace tamblo::content_tool {
namespace {

// How letters may spell sounds: each spelling's ways, "|" between them, a
// way's phonemes separated by spaces, an empty way silent. Each "~" makes a
// way less likely, so "sh" as SH wins over "s" as SH and a silent "h".
struct TSpellingRule {
  std::string_view letters, ways;
};
constexpr TSpellingRule kSpellings[] = {
    // Single vowels.
    {"a", "AE|EY|AA|AH|AO|~EH|~IH|~ER|~~"},
    {"e", "EH|IY|AH|IH|~ER|~EY|~Y|~"},
    {"i", "IH|AY|IY|AH|~ER|~Y|~AY AH|~~"},
    {"o", "AA|OW|AO|AH|UW|~UH|~ER|~W AH|~AW|~~"},
    {"u", "AH|UW|Y UW|UH|~Y UH|~Y AH|~W|~IH|~ER|~EH|~~"},
    {"y", "Y|IY|AY|IH|~AH|~ER|~~"},
    // Single consonants.
    {"b", "B|~"}, {"c", "K|S|~CH|~SH|~"}, {"d", "D|~T|~JH"}, {"f", "F|~V"}, {"g", "G|JH|~ZH|~"},
    {"h", "HH|~"}, {"j", "JH|~Y|~HH"}, {"k", "K|~"}, {"l", "L|~"}, {"m", "M|~AH M"}, {"n", "N|NG"},
    {"p", "P|~"}, {"q", "K"}, {"r", "R|ER"}, {"s", "S|Z|~SH|~ZH|~"}, {"t", "T|~CH|~SH|~D|~"}, {"v", "V"},
    {"w", "W|~"}, {"x", "K S|G Z|Z|~K SH"}, {"z", "Z|~S|~ZH"},
    // Doubled consonants, one sound.
    {"bb", "B"}, {"cc", "K|K S"}, {"dd", "D"}, {"ff", "F"}, {"gg", "G|~G JH"}, {"ll", "L"}, {"mm", "M"},
    {"nn", "N"}, {"pp", "P"}, {"rr", "R"}, {"ss", "S|~Z|~SH"}, {"tt", "T"}, {"zz", "Z"},
    // Consonant digraphs and their kin.
    {"ch", "CH|K|~SH"}, {"sh", "SH"}, {"th", "TH|DH|~T"}, {"ph", "F|~P"}, {"wh", "W|HH W|~HH"},
    {"ck", "K"}, {"ng", "NG|NG G"}, {"gh", "G|~F|~"},
    {"tch", "CH"}, {"dge", "JH"}, {"qu", "K W|~K"}, {"le", "AH L"}, {"ti", "SH|~CH"}, {"ci", "SH"},
    {"si", "ZH|~SH"}, {"sc", "S|~SH"},
    // Vowel teams.
    {"ai", "EY|~EH|~AY"}, {"ay", "EY|~IY"}, {"au", "AO|AA|~AE"}, {"aw", "AO|AA"}, {"ea", "IY|EH|~EY|~IH"},
    {"ee", "IY"}, {"ei", "EY|IY|~AY"}, {"ey", "EY|IY"}, {"eu", "UW|Y UW"}, {"ew", "UW|Y UW|~OW"},
    {"ie", "IY|AY|~IH|~AY AH"}, {"oa", "OW|~AO"}, {"oe", "OW|~UW"}, {"oi", "OY"}, {"oy", "OY"},
    {"oo", "UW|UH|~AH|~AO"}, {"ou", "AW|UW|AH|~OW|~AO|~UH"}, {"ow", "OW|AW"}, {"ue", "UW|Y UW"},
    {"ui", "UW|~IH"}, {"igh", "AY"}, {"eigh", "EY"}, {"augh", "AO|AA"}, {"ough", "AO|OW|UW|AW|AH F|AO F"},
    // A vowel and the r heard inside it.
    {"er", "ER"}, {"ir", "ER"}, {"ur", "ER"}, {"yr", "ER"}, {"ear", "ER|IH R|EH R"}, {"or", "ER|AO R"},
    {"ar", "ER|AA R"}, {"our", "AW ER|AO R|ER|AW R"},
};

// "K|S|~CH" as its ways.
std::vector<std::string_view> Ways(std::string_view text) {
  std::vector<std::string_view> ways;
  for (;;) {
    const std::size_t bar = text.find('|');
    ways.push_back(text.substr(0, bar));
    if (bar == std::string_view::npos) return ways;
    text.remove_prefix(bar + 1);
  }
}

struct TWay {
  TPhones phones;
  int cost = 0;
};
struct TSpelling {
  std::string letters;
  std::vector<TWay> ways;
};

const std::vector<TSpelling>& Spellings() {
  static const std::vector<TSpelling> spellings = [] {
    std::vector<TSpelling> all;
    for (const TSpellingRule& rule : kSpellings) {
      TSpelling spelling{std::string(rule.letters), {}};
      for (std::string_view way : Ways(rule.ways)) {
        // Every spelling costs the same, so fewer, longer ones win a tie.
        int cost = 2;
        while (way.starts_with('~')) {
          way.remove_prefix(1);
          cost += 2;
        }
        spelling.ways.push_back({PhonesFromText(way), cost});
      }
      all.push_back(std::move(spelling));
    }
    return all;
  }();
  return spellings;
}


// The sound each blend of the list teaches: two consonants, or one sound
// for a digraph (any of those listed).
struct TBlendSound {
  std::string_view blend;
  bool digraph;
  std::string_view first, second;
};
constexpr TBlendSound kBlendSounds[] = {
    {"bl", false, "B", "L"}, {"cl", false, "K", "L"}, {"fl", false, "F", "L"}, {"gl", false, "G", "L"},
    {"pl", false, "P", "L"}, {"sl", false, "S", "L"}, {"br", false, "B", "R"}, {"cr", false, "K", "R"},
    {"dr", false, "D", "R"}, {"fr", false, "F", "R"}, {"gr", false, "G", "R"}, {"pr", false, "P", "R"},
    {"tr", false, "T", "R"}, {"sk", false, "S", "K"}, {"sm", false, "S", "M"}, {"sn", false, "S", "N"},
    {"sp", false, "S", "P"}, {"st", false, "S", "T"}, {"sw", false, "S", "W"}, {"sc", false, "S", "K"},
    {"wr", true, "R", ""},   {"ch", true, "CH", ""},  {"sh", true, "SH", ""},  {"th", true, "TH", "DH"},
    {"wh", true, "W", ""},   {"ph", true, "F", ""},   {"ck", true, "K", ""},
};

const TBlendSound& BlendSound(std::string_view blend) {
  for (const TBlendSound& sound : kBlendSounds)
    if (sound.blend == blend) return sound;
  throw std::logic_error("no sound for the blend " + std::string(blend));
}

// Each letter's own sound when it stands for itself in a consonant puzzle.
// c and g may be soft.
const std::map<char, std::vector<TPhones>>& UsualSounds() {
  static const std::map<char, std::vector<TPhones>> sounds = [] {
    std::map<char, std::vector<TPhones>> all;
    const std::pair<char, std::string_view> table[] = {
        {'b', "B"}, {'c', "K|S"}, {'d', "D"}, {'f', "F"}, {'g', "G|JH"}, {'h', "HH"}, {'j', "JH"},
        {'k', "K"}, {'l', "L"},   {'m', "M"}, {'n', "N"}, {'p', "P"},    {'q', "K"},  {'r', "R|ER"},
        {'s', "S"}, {'t', "T"},   {'v', "V"}, {'w', "W"}, {'x', "K S|G Z"}, {'z', "Z"},
    };
    for (const auto& [letter, ways] : table)
      for (std::string_view way : Ways(ways)) all[letter].push_back(PhonesFromText(way));
    return all;
  }();
  return sounds;
}

std::string UsualText(char letter) {
  std::string text;
  for (const TPhones& way : UsualSounds().at(letter)) text += (text.empty() ? "" : " or ") + PhonesText(way);
  return text;
}

std::string Quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

// One way of saying the word, as the failure lines show it.
std::string Heard(const TPhones& phones, bool fromSynthesizer) {
  return "(" + PhonesText(phones) + (fromSynthesizer ? ", from espeak-ng" : "") + ")";
}

std::string BlendVerdict(const TAlignment& a, const content::TGap& gap) {
  const TBlendSound& sound = BlendSound(gap.piece);
  const std::size_t at = gap.at;
  if (sound.digraph) {
    // The letters of the pair, with whatever spelling they share, as one sound.
    TPhones phones;
    for (const TSpelledSound& unit : a.units)
      if (unit.from < at + 2 && unit.to > at)
        for (const std::string& phone : a.PhonesOf(unit)) phones.push_back(phone);
    if (phones.size() == 1 && (phones[0] == sound.first || phones[0] == sound.second)) return {};
    return Quoted(gap.piece) + " is not heard as " + std::string(sound.first) +
           (sound.second.empty() ? "" : " or " + std::string(sound.second));
  }
  const TSpelledSound& first = a.UnitOf(at);
  const TSpelledSound& second = a.UnitOf(at + 1);
  const TPhones firstPhones = a.PhonesOf(first), secondPhones = a.PhonesOf(second);
  // Two spellings side by side, so nothing is said between their sounds.
  if (first.to == at + 1 && second.from == at + 1 && !firstPhones.empty() && !secondPhones.empty() &&
      firstPhones.back() == sound.first && secondPhones.front() == sound.second)
    return {};
  return Quoted(gap.piece) + " is not heard as a blend";
}

std::string ConsonantVerdict(const TAlignment& a, std::string_view word, std::size_t at) {
  const char letter = word[at];
  const TSpelledSound& unit = a.UnitOf(at);
  const std::string letters(word.substr(unit.from, unit.to - unit.from));
  const TPhones phones = a.PhonesOf(unit);
  const std::vector<TPhones>& usual = UsualSounds().at(letter);
  const bool alone = std::all_of(letters.begin(), letters.end(), [&](char c) { return c == letter; });
  if (alone && std::find(usual.begin(), usual.end(), phones) != usual.end()) return {};
  // An r heard inside its vowel, as in "bird", is still heard.
  if (letter == 'r' && std::any_of(phones.begin(), phones.end(), [](const std::string& p) {
        return p == "R" || p == "ER";
      }))
    return {};
  if (letters == "ck" && phones == TPhones{"K"}) return {};
  if (letters == "qu" && !phones.empty() && phones.front() == "K") return {};
  if (letters == "le" && !phones.empty() && phones.back() == "L") return {};
  const std::string name = Quoted(std::string(1, letter));
  if (phones.empty()) return name + " is silent";
  if (!alone)
    return name + " is part of " + Quoted(letters) + ", heard as " + PhonesText(phones) + ", not " +
           UsualText(letter);
  return name + " is heard as " + PhonesText(phones) + ", not " + UsualText(letter);
}

struct TVowelSound {
  char letter;
  std::string_view shortSounds, longSounds;
};
constexpr TVowelSound kVowelSounds[] = {
    {'a', "AE", "EY"}, {'e', "EH", "IY"}, {'i', "IH", "AY"}, {'o', "AA AO", "OW"}, {'u', "AH", "UW"},
    {'y', "IH", "AY IY"},
};

std::string VowelVerdict(const TAlignment& a, std::string_view word, std::size_t at, bool isLong) {
  const char letter = word[at];
  const TVowelSound* sound = nullptr;
  for (const TVowelSound& v : kVowelSounds)
    if (v.letter == letter) sound = &v;
  const std::string name = Quoted(std::string(1, letter));
  const char* kind = isLong ? "long" : "short";
  if (!sound) return name + " is not a vowel";
  const TPhones expected = PhonesFromText(isLong ? sound->longSounds : sound->shortSounds);
  const TPhones phones = a.PhonesOf(a.UnitOf(at));
  for (const std::string& phone : phones)
    if (std::find(expected.begin(), expected.end(), phone) != expected.end()) return {};
  std::string expectedText;
  for (const std::string& phone : expected) expectedText += (expectedText.empty() ? "" : " or ") + phone;
  return name + " is not heard as a " + kind + " " + std::string(1, letter) + ", " + expectedText;
}

// Pairs of gaps some puzzle of this kind cuts side by side.
std::vector<std::string> TouchingGaps(TTableKind kind, std::string_view word) {
  std::vector<content::TGapCut> cuts;
  if (kind == TTableKind::Blend)
    cuts.push_back(content::CutBlendGaps(word));
  else if (kind == TTableKind::Conson)
    cuts = content::AllConsonantCuts(word);
  std::vector<std::string> lines;
  for (const content::TGapCut& cut : cuts) {
    std::vector<content::TGap> gaps = cut.gaps;
    std::sort(gaps.begin(), gaps.end(), [](const content::TGap& x, const content::TGap& y) { return x.at < y.at; });
    for (std::size_t i = 1; i < gaps.size(); ++i) {
      if (gaps[i - 1].at + gaps[i - 1].piece.size() != gaps[i].at) continue;
      const std::string line = Quoted(gaps[i - 1].piece) + " and " + Quoted(gaps[i].piece) +
                               " are gaps side by side (" + cut.shown + ")";
      // The same pair may touch in several cuts; one line is enough.
      const std::string pair = Quoted(gaps[i - 1].piece) + " and " + Quoted(gaps[i].piece);
      if (std::none_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(pair); }))
        lines.push_back(line);
    }
  }
  return lines;
}

// Positions of the consonants some consonant puzzle cuts out of the word.
std::vector<std::size_t> ConsonantGapPositions(std::string_view word) {
  std::set<std::size_t> positions;
  for (const content::TGapCut& cut : content::AllConsonantCuts(word))
    for (const content::TGap& gap : cut.gaps) positions.insert(gap.at);
  return {positions.begin(), positions.end()};
}

// The sounds this one way of saying the word gets wrong, without the phonemes.
std::vector<std::string> SoundFailures(TTableKind kind, const TWordRecord& r, const TPhones& phones) {
  const std::optional<TAlignment> a = Align(r.word, phones);
  if (!a) return {"its letters cannot be matched to its sounds"};
  std::vector<std::string> failures;
  const auto add = [&](const std::string& why) {
    if (!why.empty()) failures.push_back(why);
  };
  switch (kind) {
    case TTableKind::Blend:
      for (const content::TGap& gap : content::CutBlendGaps(r.word).gaps) add(BlendVerdict(*a, gap));
      break;
    case TTableKind::SVowel:
    case TTableKind::LVowel:
      if (const std::size_t at = r.blank.find('_'); at != std::string::npos && at < r.word.size())
        add(VowelVerdict(*a, r.word, at, kind == TTableKind::LVowel));
      break;
    case TTableKind::Conson:
      for (std::size_t at : ConsonantGapPositions(r.word)) add(ConsonantVerdict(*a, r.word, at));
      break;
    case TTableKind::SndFx:
      break;
  }
  return failures;
}

std::string Letters(std::string_view word, const TSpelledSound& unit) {
  return std::string(word.substr(unit.from, unit.to - unit.from));
}

}  // namespace

const TSpelledSound& TAlignment::UnitOf(std::size_t letter) const {
  for (const TSpelledSound& unit : units)
    if (unit.from <= letter && letter < unit.to) return unit;
  throw std::out_of_range("no spelling covers letter " + std::to_string(letter));
}

TPhones TAlignment::PhonesOf(const TSpelledSound& unit) const {
  return TPhones(phones.begin() + static_cast<std::ptrdiff_t>(unit.phoneFrom),
                 phones.begin() + static_cast<std::ptrdiff_t>(unit.phoneTo));
}

std::optional<TAlignment> Align(std::string_view word, const TPhones& phones) {
  // Cheapest spelling of the first i letters as the first j phonemes.
  const std::size_t n = word.size(), m = phones.size();
  constexpr int kNever = std::numeric_limits<int>::max();
  struct TStep {
    int cost = kNever;
    TSpelledSound last;
  };
  std::vector<std::vector<TStep>> best(n + 1, std::vector<TStep>(m + 1));
  best[0][0].cost = 0;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j <= m; ++j) {
      if (best[i][j].cost == kNever) continue;
      for (const TSpelling& spelling : Spellings()) {
        if (word.substr(i, spelling.letters.size()) != spelling.letters) continue;
        for (const TWay& way : spelling.ways) {
          if (j + way.phones.size() > m || !std::equal(way.phones.begin(), way.phones.end(), phones.begin() + static_cast<std::ptrdiff_t>(j)))
            continue;
          TStep& next = best[i + spelling.letters.size()][j + way.phones.size()];
          const int cost = best[i][j].cost + way.cost;
          if (cost < next.cost) next = {cost, {i, i + spelling.letters.size(), j, j + way.phones.size()}};
        }
      }
    }
  if (best[n][m].cost == kNever) return std::nullopt;
  TAlignment alignment{phones, {}};
  for (std::size_t i = n, j = m; i > 0;) {
    const TSpelledSound unit = best[i][j].last;
    alignment.units.insert(alignment.units.begin(), unit);
    i = unit.from;
    j = unit.phoneFrom;
  }
  return alignment;
}

std::vector<std::string> PhonicsFailures(TTableKind kind, const TWordRecord& record,
                                         const TPronunciation& pronunciation) {
  const std::string prefix = std::string(TableName(kind)) + "/" + record.word + ": ";
  std::vector<std::string> lines;
  for (const std::string& touching : TouchingGaps(kind, record.word)) lines.push_back(prefix + touching);
  if (pronunciation.ways.empty()) {
    lines.push_back(prefix + "has no pronunciation: " + pronunciation.error);
    return lines;
  }
  // One way of saying it that passes is enough; otherwise the way that gets
  // the fewest sounds wrong speaks for the word.
  std::vector<std::string> fewest;
  const TPhones* fewestWay = nullptr;
  for (const TPhones& way : pronunciation.ways) {
    std::vector<std::string> failures = SoundFailures(kind, record, way);
    if (failures.empty()) return lines;
    if (!fewestWay || failures.size() < fewest.size()) {
      fewest = std::move(failures);
      fewestWay = &way;
    }
  }
  for (const std::string& failure : fewest)
    lines.push_back(prefix + failure + " " + Heard(*fewestWay, pronunciation.fromSynthesizer));
  return lines;
}

std::string ExplainPhonics(std::string_view word, const TPronunciation& pronunciation) {
  std::ostringstream out;
  out << word << ": ";
  if (pronunciation.ways.empty()) {
    out << "no pronunciation: " << pronunciation.error << "\n";
    return out.str();
  }
  out << (pronunciation.fromSynthesizer ? "not in the dictionary; phonemes from espeak-ng"
                                        : "phonemes from the pronouncing dictionary")
      << "\n";
  const std::string w(word);
  for (const TPhones& way : pronunciation.ways) {
    out << "\n  said " << PhonesText(way) << "\n";
    const std::optional<TAlignment> a = Align(word, way);
    if (!a) {
      out << "    its letters cannot be matched to these sounds\n";
      continue;
    }
    out << "    spelled";
    for (const TSpelledSound& unit : a->units) {
      const TPhones phones = a->PhonesOf(unit);
      out << "  " << Letters(word, unit) << "=" << (phones.empty() ? "(silent)" : PhonesText(phones));
    }
    out << "\n";
    const auto verdict = [](const std::string& why) { return why.empty() ? std::string("heard") : why; };
    const content::TGapCut blends = content::CutBlendGaps(word);
    if (blends.gaps.empty()) {
      out << "    Blend: holds no blend of the list\n";
    } else {
      out << "    Blend: cuts " << blends.shown << "\n";
      for (const content::TGap& gap : blends.gaps)
        out << "      " << Quoted(gap.piece) << ": " << verdict(BlendVerdict(*a, gap)) << "\n";
    }
    for (std::size_t at = 0; at < w.size(); ++at) {
      if (std::string_view("aeiou").find(w[at]) == std::string_view::npos) continue;
      std::string blank = w;
      blank[at] = '_';
      const bool isShort = VowelVerdict(*a, word, at, false).empty();
      const bool isLong = VowelVerdict(*a, word, at, true).empty();
      out << "    vowel " << blank << ": "
          << (isShort  ? "a short " + std::string(1, w[at]) + " (SVowel)"
              : isLong ? "a long " + std::string(1, w[at]) + " (LVowel)"
                       : "neither short nor long " + std::string(1, w[at]) + ", heard as " +
                             (a->PhonesOf(a->UnitOf(at)).empty() ? std::string("nothing")
                                                                 : PhonesText(a->PhonesOf(a->UnitOf(at)))))
          << "\n";
    }
    const std::vector<std::size_t> consonants = ConsonantGapPositions(word);
    if (consonants.empty()) {
      out << "    Conson: no consonant to cut\n";
    } else {
      out << "    Conson: may cut";
      for (std::size_t at : consonants) out << " " << w[at];
      out << "\n";
      for (std::size_t at : consonants)
        out << "      " << Quoted(std::string(1, w[at])) << ": " << verdict(ConsonantVerdict(*a, word, at)) << "\n";
    }
  }
  out << "\n  verdict:\n";
  TWordRecord record{w, {}, {}, true};
  const auto report = [&](TTableKind kind, const TWordRecord& r) {
    const std::vector<std::string> failures = PhonicsFailures(kind, r, pronunciation);
    out << "    " << TableName(kind) << ": " << (failures.empty() ? "passes" : "fails") << "\n";
    for (const std::string& failure : failures) out << "      " << failure << "\n";
  };
  if (!content::CutBlendGaps(word).gaps.empty()) report(TTableKind::Blend, record);
  for (TTableKind kind : {TTableKind::SVowel, TTableKind::LVowel}) {
    std::string passes;
    for (std::size_t at = 0; at < w.size(); ++at) {
      if (std::string_view("aeiou").find(w[at]) == std::string_view::npos) continue;
      TWordRecord vowel{w, w, std::string(1, w[at]), true};
      vowel.blank[at] = '_';
      if (PhonicsFailures(kind, vowel, pronunciation).empty()) passes += " " + vowel.blank;
    }
    out << "    " << TableName(kind) << ": "
        << (passes.empty() ? std::string("no vowel is heard ") + (kind == TTableKind::LVowel ? "long" : "short")
                           : "passes as" + passes)
        << "\n";
  }
  if (!ConsonantGapPositions(word).empty()) report(TTableKind::Conson, record);
  return out.str();
}

}  // namespace tamblo::content_tool
