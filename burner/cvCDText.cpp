#include "burner/cvCDText.h"

#include <algorithm>
#include <optional>

namespace cv {

namespace {

constexpr std::uint8_t kTypeTitle = 0x80;
constexpr std::uint8_t kTypePerformer = 0x81;
constexpr std::uint8_t kTypeSongwriter = 0x82;
constexpr std::uint8_t kTypeCodes = 0x8E;
constexpr std::uint8_t kTypeSize = 0x8F;
constexpr std::size_t kPayload = 12;

bool AnyText(const std::vector<std::string>& texts) {
  return std::any_of(texts.begin(), texts.end(), [](const std::string& t) { return !t.empty(); });
}

// The kinds of a block in pack type order, with their texts.
std::vector<std::pair<std::uint8_t, const std::vector<std::string>*>> Kinds(const TCDTextBlock& block) {
  std::vector<std::pair<std::uint8_t, const std::vector<std::string>*>> kinds;
  if (AnyText(block.Titles)) kinds.emplace_back(kTypeTitle, &block.Titles);
  if (AnyText(block.Performers)) kinds.emplace_back(kTypePerformer, &block.Performers);
  if (AnyText(block.Songwriters)) kinds.emplace_back(kTypeSongwriter, &block.Songwriters);
  if (AnyText(block.Codes)) kinds.emplace_back(kTypeCodes, &block.Codes);
  return kinds;
}

std::size_t EntryCount(const TCDTextBlock& block) {
  return std::max({block.Titles.size(), block.Performers.size(), block.Songwriters.size(), block.Codes.size(),
                   std::size_t{1}});
}

// Packs one kind of text needs: every text and its terminator, 12 bytes a pack.
std::size_t PacksFor(const std::vector<std::string>& texts, std::size_t entries) {
  std::size_t bytes = entries;  // terminators
  for (const std::string& t : texts) bytes += t.size();
  return (bytes + kPayload - 1) / kPayload;
}

void SealPack(TCDTextPack& pack) {
  const std::uint16_t crc = CDTextCRC(std::span(pack).first(16));
  pack[16] = static_cast<std::uint8_t>(crc >> 8);
  pack[17] = static_cast<std::uint8_t>(crc);
}

}  // namespace

std::uint16_t CDTextCRC(std::span<const std::uint8_t> Bytes16) {
  std::uint16_t crc = 0;
  for (const std::uint8_t byte : Bytes16) {
    crc ^= static_cast<std::uint16_t>(byte << 8);
    for (int bit = 0; bit < 8; ++bit)
      crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return static_cast<std::uint16_t>(~crc);
}

std::size_t CountCDTextPacks(const TCDTextBlock& Block) {
  const std::size_t entries = EntryCount(Block);
  std::size_t packs = 0;
  for (const auto& [type, texts] : Kinds(Block)) packs += PacksFor(*texts, entries);
  return packs;
}

std::vector<TCDTextPack> EncodeCDText(const TCDTextBlock& Block) {
  std::vector<TCDTextPack> packs;
  const auto kinds = Kinds(Block);
  if (kinds.empty()) return packs;
  const std::size_t entries = EntryCount(Block);
  std::array<std::uint8_t, 16> counts{};

  for (const auto& [type, texts] : kinds) {
    // The kind's texts as one stream of bytes; for each byte, the entry it
    // belongs to and how many characters of that text precede it.
    struct TByte {
      std::uint8_t Value;
      std::uint8_t Entry;
      std::size_t Position;
    };
    std::vector<TByte> stream;
    for (std::size_t e = 0; e < entries; ++e) {
      const std::string empty;
      const std::string& text = e < texts->size() ? (*texts)[e] : empty;
      for (std::size_t i = 0; i < text.size(); ++i)
        stream.push_back({static_cast<std::uint8_t>(text[i]), static_cast<std::uint8_t>(e), i});
      stream.push_back({0, static_cast<std::uint8_t>(e), text.size()});
    }
    for (std::size_t at = 0; at < stream.size(); at += kPayload) {
      TCDTextPack pack{};
      const TByte& first = stream[at];
      pack[0] = type;
      pack[1] = first.Entry == 0 ? 0 : static_cast<std::uint8_t>(Block.FirstTrack + first.Entry - 1);
      pack[2] = static_cast<std::uint8_t>(packs.size());
      pack[3] = static_cast<std::uint8_t>(std::min<std::size_t>(first.Position, 15));  // block 0, single-byte
      for (std::size_t i = 0; i < kPayload && at + i < stream.size(); ++i) pack[4 + i] = stream[at + i].Value;
      SealPack(pack);
      packs.push_back(pack);
      ++counts[type - 0x80];
    }
  }

  // The size information: three packs whose 36 payload bytes form one record.
  counts[kTypeSize - 0x80] = 3;
  std::array<std::uint8_t, 36> record{};
  record[0] = Block.CharacterCode;
  record[1] = Block.FirstTrack;
  record[2] = static_cast<std::uint8_t>(entries > 1 ? Block.FirstTrack + entries - 2 : Block.FirstTrack);
  record[3] = 0x00;  // no copyright flags
  std::copy(counts.begin(), counts.end(), record.begin() + 4);
  record[20] = static_cast<std::uint8_t>(packs.size() + 2);  // last sequence number of block 0
  record[28] = Block.Language;
  for (std::uint8_t part = 0; part < 3; ++part) {
    TCDTextPack pack{};
    pack[0] = kTypeSize;
    pack[1] = part;
    pack[2] = static_cast<std::uint8_t>(packs.size());
    std::copy_n(record.begin() + part * kPayload, kPayload, pack.begin() + 4);
    SealPack(pack);
    packs.push_back(pack);
  }
  return packs;
}

std::array<std::uint8_t, kCDTextLeadInBlockBytes> CDTextLeadInBlock(std::span<const TCDTextPack> Packs,
                                                                      std::size_t Index) {
  std::array<std::uint8_t, kCDTextLeadInBlockBytes> block{};
  if (Packs.empty()) return block;
  std::size_t out = 0;
  for (std::size_t p = 0; p < 4; ++p) {
    const TCDTextPack& pack = Packs[(Index * 4 + p) % Packs.size()];
    for (std::size_t i = 0; i < kCDTextPackBytes; i += 3) {
      const std::uint8_t a = pack[i], b = pack[i + 1], c = pack[i + 2];
      block[out++] = static_cast<std::uint8_t>(a >> 2);
      block[out++] = static_cast<std::uint8_t>(((a << 4) | (b >> 4)) & 0x3F);
      block[out++] = static_cast<std::uint8_t>(((b << 2) | (c >> 6)) & 0x3F);
      block[out++] = static_cast<std::uint8_t>(c & 0x3F);
    }
  }
  return block;
}

// --- ISO-8859-1 with a readable fallback -------------------------------------

namespace {

// Next code point of UTF-8 text at pos (advanced), nullopt for an invalid
// byte (pos then steps over that one byte).
std::optional<char32_t> NextCodePoint(std::string_view s, std::size_t& pos) {
  const auto b0 = static_cast<unsigned char>(s[pos]);
  std::size_t length = 0;
  char32_t cp = 0;
  if (b0 < 0x80) {
    ++pos;
    return b0;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    length = 2;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    length = 3;
    cp = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    length = 4;
    cp = b0 & 0x07;
  } else {
    ++pos;
    return std::nullopt;
  }
  if (pos + length > s.size()) {
    ++pos;
    return std::nullopt;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const auto b = static_cast<unsigned char>(s[pos + i]);
    if ((b & 0xC0) != 0x80) {
      ++pos;
      return std::nullopt;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  const bool overlong = (length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000);
  if (overlong || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return std::nullopt;
  }
  pos += length;
  return cp;
}

// U+0100 .. U+017F without their marks; '*' for the four ligatures.
constexpr char kLatinExtendedA[] =
    "AaAaAaCcCcCcCcDdDdEeEeEeEeEeGgGgGgGgHhHhIiIiIiIiIi**JjKkkLlLlLlLlLlNnNnNnnNnOoOoOo**RrRrRrSsSsSsSsTtTtTtUuUuUuUuUuUu"
    "WwYyYZzZzZzs";
static_assert(sizeof(kLatinExtendedA) == 0x80 + 1);

// U+0410 .. U+044F, upper case then lower case.
constexpr const char* kCyrillic[32] = {"A", "B", "V",  "G",  "D",    "E", "Zh", "Z", "I", "Y",  "K",
                                       "L", "M", "N",  "O",  "P",    "R", "S",  "T", "U", "F",  "Kh",
                                       "Ts", "Ch", "Sh", "Shch", "\"", "Y", "'",  "E", "Yu", "Ya"};

// U+0391 .. U+03A9 (U+03A2 unassigned).
constexpr const char* kGreek[25] = {"A", "V", "G", "D", "E", "Z",  "I", "Th", "I", "K", "L",  "M", "N",
                                    "X", "O", "P", "R", "",  "S",  "T", "Y",  "F", "Ch", "Ps", "O"};

std::string LowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// The Latin-1 letter Base carries with the combining mark Mark, or 0.
std::uint8_t Compose(std::uint8_t base, char32_t mark) {
  // Letters that take each mark, and where their precomposed forms are.
  struct TRow {
    char32_t Mark;
    const char* Bases;
    const std::uint8_t* Forms;
  };
  static constexpr std::uint8_t kGrave[] = {0xC0, 0xC8, 0xCC, 0xD2, 0xD9, 0xE0, 0xE8, 0xEC, 0xF2, 0xF9};
  static constexpr std::uint8_t kAcute[] = {0xC1, 0xC9, 0xCD, 0xD3, 0xDA, 0xDD, 0xE1, 0xE9, 0xED, 0xF3, 0xFA, 0xFD};
  static constexpr std::uint8_t kCircumflex[] = {0xC2, 0xCA, 0xCE, 0xD4, 0xDB, 0xE2, 0xEA, 0xEE, 0xF4, 0xFB};
  static constexpr std::uint8_t kTilde[] = {0xC3, 0xD1, 0xD5, 0xE3, 0xF1, 0xF5};
  static constexpr std::uint8_t kDiaeresis[] = {0xC4, 0xCB, 0xCF, 0xD6, 0xDC, 0xE4, 0xEB, 0xEF, 0xF6, 0xFC, 0xFF};
  static constexpr std::uint8_t kRing[] = {0xC5, 0xE5};
  static constexpr std::uint8_t kCedilla[] = {0xC7, 0xE7};
  static constexpr TRow kRows[] = {
      {0x300, "AEIOUaeiou", kGrave},     {0x301, "AEIOUYaeiouy", kAcute}, {0x302, "AEIOUaeiou", kCircumflex},
      {0x303, "ANOano", kTilde},         {0x308, "AEIOUaeiouy", kDiaeresis}, {0x30A, "Aa", kRing},
      {0x327, "Cc", kCedilla},
  };
  for (const TRow& row : kRows) {
    if (row.Mark != mark) continue;
    for (std::size_t i = 0; row.Bases[i] != 0; ++i)
      if (static_cast<std::uint8_t>(row.Bases[i]) == base) return row.Forms[i];
  }
  return 0;
}

// The readable ISO-8859-1 spelling of a code point beyond U+00FF; empty for
// a character with no width; "?" when there is none.
std::string Fallback(char32_t cp) {
  if (cp >= 0x100 && cp <= 0x17F) {
    switch (cp) {
      case 0x132: return "IJ";
      case 0x133: return "ij";
      case 0x152: return "OE";
      case 0x153: return "oe";
      default: return std::string(1, kLatinExtendedA[cp - 0x100]);
    }
  }
  switch (cp) {
    case 0x192: return "f";
    case 0x218: return "S";
    case 0x219: return "s";
    case 0x21A: return "T";
    case 0x21B: return "t";
    case 0x401: return "Yo";
    case 0x451: return "yo";
    case 0x404: return "Ye";
    case 0x454: return "ye";
    case 0x406: return "I";
    case 0x456: return "i";
    case 0x407: return "Yi";
    case 0x457: return "yi";
    case 0x490: return "G";
    case 0x491: return "g";
    case 0x3C2: return "s";  // final sigma
    case 0x386: return "A";
    case 0x388: return "E";
    case 0x389: return "I";
    case 0x38A: return "I";
    case 0x38C: return "O";
    case 0x38E: return "Y";
    case 0x38F: return "O";
    case 0x3AC: return "a";
    case 0x3AD: return "e";
    case 0x3AE: return "i";
    case 0x3AF: return "i";
    case 0x3CC: return "o";
    case 0x3CD: return "y";
    case 0x3CE: return "o";
    case 0x2018: case 0x2019: case 0x201A: case 0x201B: case 0x2032: return "'";
    case 0x201C: case 0x201D: case 0x201E: case 0x201F: case 0x2033: return "\"";
    case 0x2010: case 0x2011: case 0x2012: case 0x2013: case 0x2014: case 0x2015: case 0x2212: return "-";
    case 0x2026: return "...";
    case 0x2022: return "\xB7";
    case 0x2039: return "<";
    case 0x203A: return ">";
    case 0x20AC: return "EUR";
    case 0x2122: return "TM";
    case 0x2116: return "No";
    default: break;
  }
  if (cp >= 0x410 && cp <= 0x42F) return kCyrillic[cp - 0x410];
  if (cp >= 0x430 && cp <= 0x44F) return LowerAscii(kCyrillic[cp - 0x430]);
  if (cp >= 0x391 && cp <= 0x3A9) return kGreek[cp - 0x391];
  if (cp >= 0x3B1 && cp <= 0x3C9) return LowerAscii(kGreek[cp - 0x3B1]);
  if (cp >= 0x2000 && cp <= 0x200A) return " ";
  if ((cp >= 0x200B && cp <= 0x200F) || cp == 0xFEFF || (cp >= 0x300 && cp <= 0x36F)) return "";
  if (cp >= 0xFF01 && cp <= 0xFF5E) return std::string(1, static_cast<char>(cp - 0xFEE0));  // full width
  if (cp == 0x3000) return " ";
  return "?";
}

}  // namespace

std::string ToLatin1(std::string_view Utf8) {
  std::string out;
  std::size_t pos = 0;
  while (pos < Utf8.size()) {
    const std::optional<char32_t> cp = NextCodePoint(Utf8, pos);
    if (!cp) {
      out += '?';
      continue;
    }
    if (*cp < 0x20 || (*cp >= 0x7F && *cp < 0xA0)) {
      out += ' ';
    } else if (*cp <= 0xFF) {
      out += static_cast<char>(*cp);
    } else if (*cp >= 0x300 && *cp <= 0x36F && !out.empty()) {
      // A combining mark after its letter: the precomposed letter where
      // ISO-8859-1 has one, else the letter alone.
      if (const std::uint8_t composed = Compose(static_cast<std::uint8_t>(out.back()), *cp); composed != 0)
        out.back() = static_cast<char>(composed);
    } else {
      out += Fallback(*cp);
    }
  }
  return out;
}

// --- Fitting a disc's texts into one block -----------------------------------

namespace {

// Cuts text to at most max characters (no blank left at its end); true when
// it had to.
bool Cut(std::string& text, std::size_t max) {
  if (text.size() <= max) return false;
  text.resize(max);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return true;
}

bool IsCode(std::string_view code, std::size_t length, bool digitsOnly) {
  if (code.size() != length) return false;
  return std::all_of(code.begin(), code.end(), [&](char c) {
    return (c >= '0' && c <= '9') || (!digitsOnly && c >= 'A' && c <= 'Z');
  });
}

const char* KindName(std::uint8_t type) {
  switch (type) {
    case kTypeTitle: return "titles";
    case kTypePerformer: return "performers";
    case kTypeSongwriter: return "songwriters";
    default: return "ISRC and UPC/EAN codes";
  }
}

}  // namespace

TCDTextResult BuildCDText(const TCDTextDisc& Disc) {
  TCDTextResult result;
  // The texts converted, before any cutting.
  TCDTextBlock full;
  full.FirstTrack = Disc.FirstTrack;
  auto add = [](std::vector<std::string>& texts, const std::string& utf8) { texts.push_back(ToLatin1(utf8)); };
  add(full.Titles, Disc.Title);
  add(full.Performers, Disc.Performer);
  add(full.Songwriters, Disc.Songwriter);
  full.Codes.push_back(IsCode(Disc.UpcEan, 13, true) ? Disc.UpcEan : std::string());
  if (!Disc.UpcEan.empty() && full.Codes[0].empty())
    result.Notes.push_back("UPC/EAN \"" + Disc.UpcEan + "\" left out: not 13 digits");
  for (std::size_t i = 0; i < Disc.Tracks.size(); ++i) {
    const TCDTextTrack& track = Disc.Tracks[i];
    add(full.Titles, track.Title);
    add(full.Performers, track.Performer);
    add(full.Songwriters, track.Songwriter);
    const bool valid = IsCode(track.Isrc, 12, false) &&
                       IsCode(std::string_view(track.Isrc).substr(5), 7, true);
    full.Codes.push_back(valid ? track.Isrc : std::string());
    if (!track.Isrc.empty() && !valid)
      result.Notes.push_back("track " + std::to_string(Disc.FirstTrack + i) + ": ISRC \"" + track.Isrc +
                             "\" left out: not of the form CCOOOYYNNNNN");
  }

  // Cut to a length, then leave kinds out, until the block fits.
  static constexpr std::size_t kLengths[] = {kCDTextMaxChars, 120, 80, 64, 48, 32, 24, 16, 12, 8};
  const std::uint8_t dropOrder[] = {0, kTypeCodes, kTypeSongwriter, kTypePerformer};
  for (const std::uint8_t drop : dropOrder) {
    std::vector<std::string>* dropped = drop == kTypeCodes        ? &full.Codes
                                        : drop == kTypeSongwriter ? &full.Songwriters
                                        : drop == kTypePerformer  ? &full.Performers
                                                                  : nullptr;
    if (dropped != nullptr && AnyText(*dropped)) {
      dropped->assign(dropped->size(), std::string());
      result.Notes.push_back(std::string("CD-TEXT: ") + KindName(drop) + " left out to fit the block");
    }
    for (const std::size_t max : kLengths) {
      TCDTextBlock block = full;
      std::size_t cut = 0;
      for (auto* texts : {&block.Titles, &block.Performers, &block.Songwriters})
        for (std::string& text : *texts) cut += Cut(text, max) ? 1 : 0;
      if (CountCDTextPacks(block) > kCDTextMaxTextPacks) continue;
      if (cut > 0)
        result.Notes.push_back("CD-TEXT: " + std::to_string(cut) + " text(s) cut to " + std::to_string(max) +
                               " characters");
      result.Block = std::move(block);
      result.Packs = EncodeCDText(result.Block);
      return result;
    }
  }
  // Unreachable with at most 99 tracks: 100 titles of 8 characters take 75
  // packs. A larger list gets no CD-TEXT rather than a block out of bounds.
  result.Notes.push_back("CD-TEXT left out: the texts do not fit one block");
  result.Block = TCDTextBlock{};
  return result;
}

}  // namespace cv
