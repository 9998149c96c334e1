#include "formats/cvID3v2.h"

#include <gtest/gtest.h>

#include "mp3_test_util.h"

using namespace cvtest;
using cv::TID3v2;

namespace {

// A tag over some audio-like bytes, read from memory.
std::unique_ptr<TID3v2> Read(const Bytes& tag, std::size_t tail = 1000) {
  Bytes file = tag;
  file.resize(file.size() + tail, 0x55);
  auto reader = std::make_unique<TID3v2>();
  EXPECT_TRUE(reader->ReadTag(file));
  return reader;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const auto& p : parts) Append(out, p);
  return out;
}

}  // namespace

TEST(ID3v2Tag, Version3TextsAndSize) {
  const Bytes body = Concat({ID3Frame(3, "TIT2", Text(0, "My Title")), ID3Frame(3, "TPE1", Text(0, "My Artist")),
                             ID3Frame(3, "TALB", Text(0, "My Album")), ID3Frame(3, "TYER", Text(0, "1987")),
                             ID3Frame(3, "COMM", Text(0, std::string("eng\0My comment", 14))),
                             ID3Frame(3, "TRCK", Text(0, "5/12"))});
  auto tag = Read(ID3Tag(3, body, 0, 50));
  EXPECT_TRUE(tag->Present);
  EXPECT_EQ(tag->Version, 3);
  EXPECT_EQ(tag->Size, static_cast<std::int32_t>(body.size() + 50 + 10));
  EXPECT_EQ(tag->Title, "My Title");
  EXPECT_EQ(tag->Artist, "My Artist");
  EXPECT_EQ(tag->Album, "My Album");
  EXPECT_EQ(tag->Year, "1987");
  EXPECT_EQ(tag->Comment, "My comment");
  EXPECT_EQ(tag->Track, 5);
  EXPECT_EQ(tag->TrackText, "5/12");
}

TEST(ID3v2Tag, FooterAddsTenBytes) {
  const Bytes body = ID3Frame(4, "TIT2", Text(0, "x"));
  auto tag = Read(ID3Tag(4, body, 0x10));
  EXPECT_EQ(tag->Size, static_cast<std::int32_t>(body.size() + 20));
}

TEST(ID3v2Tag, SizeBytesAreTakenWhole) {
  Bytes tag = ID3Tag(3, ID3Frame(3, "TIT2", Text(0, "x")));
  tag[9] = 0x80 | tag[9];  // not sync-safe: counted as it stands
  const std::int32_t expected = (tag[6] << 21) + (tag[7] << 14) + (tag[8] << 7) + tag[9] + 10;
  auto reader = Read(tag, 400);
  EXPECT_EQ(reader->Size, expected);
}

TEST(ID3v2Tag, TagLongerThanTheFileHasNoSizeAndNoFields) {
  Bytes tag = ID3Tag(3, ID3Frame(3, "TIT2", Text(0, "Lost")));
  auto reader = Read(tag, 0);
  EXPECT_EQ(reader->Title, "Lost");  // exactly as long as the file: fine
  tag[8] = 0x7F;
  reader = Read(tag, 100);
  EXPECT_TRUE(reader->Present);
  EXPECT_EQ(reader->Size, 0);
  EXPECT_EQ(reader->Title, "");
}

TEST(ID3v2Tag, Version4FrameSizesAreSyncSafe) {
  // A 300-byte title: its sync-safe size 0x00 00 02 2C read as a plain number
  // would be 556 and skip the artist frame.
  const std::string title(299, 'T');
  const Bytes body = Concat({ID3Frame(4, "TIT2", Text(0, title)), ID3Frame(4, "TPE1", Text(0, "After"))});
  auto tag = Read(ID3Tag(4, body));
  EXPECT_EQ(tag->Title, title);
  EXPECT_EQ(tag->Artist, "After");
}

TEST(ID3v2Tag, Version4PlainSizesAsSomeTaggersWriteThem) {
  // Frame sizes written as plain numbers in a version 4 tag. 300 bytes
  // (0x12C) read sync-safe would be 172 and end inside the title; 200 bytes
  // (0xC8) is not sync-safe at all. Either way the plain reading ends on
  // the next frame, and the frames after it are found.
  auto plain = [](const std::string& id, const std::string& text) {
    Bytes f = ID3Frame(4, id, Text(0, text));
    PutBE32(f, 4, static_cast<std::uint32_t>(text.size() + 1));
    return f;
  };
  std::string title;
  while (title.size() < 299) title += "a plain size ";
  title.resize(298);
  title += '.';
  auto tag = Read(ID3Tag(4, Concat({plain("TIT2", title), plain("TPE1", "After"), plain("TALB", "Album")})));
  EXPECT_EQ(tag->Title, title);
  EXPECT_EQ(tag->Artist, "After");
  EXPECT_EQ(tag->Album, "Album");
  const std::string shorter = title.substr(0, 198) + "!";
  tag = Read(ID3Tag(4, Concat({plain("TIT2", shorter), plain("TPE1", "After")})));
  EXPECT_EQ(tag->Title, shorter);
  EXPECT_EQ(tag->Artist, "After");
  // Sizes under 128 read the same both ways; sync-safe sizes that land stay
  // sync-safe (the test above with 300 bytes).
  tag = Read(ID3Tag(4, Concat({plain("TIT2", "Short"), ID3Frame(4, "TPE1", Text(0, title))})));
  EXPECT_EQ(tag->Title, "Short");
  EXPECT_EQ(tag->Artist, title);
}

TEST(ID3v2Tag, Version4DateGivesTheYear) {
  const Bytes body = ID3Frame(4, "TDRC", Text(0, "2011-03-04"));
  EXPECT_EQ(Read(ID3Tag(4, body))->Year, "2011");
  // TYER wins when present.
  const Bytes both = Concat({body, ID3Frame(4, "TYER", Text(0, "1999"))});
  EXPECT_EQ(Read(ID3Tag(4, both))->Year, "1999");
}

TEST(ID3v2Tag, Version2ThreeCharacterFrames) {
  const Bytes body = Concat({ID3Frame(2, "TT2", Text(0, "Old Title")), ID3Frame(2, "TP1", Text(0, "Old Artist")),
                             ID3Frame(2, "COM", Text(0, std::string("engdesc\0Old comment", 19))),
                             ID3Frame(2, "TRK", Text(0, "9")), ID3Frame(2, "TOR", Text(0, "1970"))});
  auto tag = Read(ID3Tag(2, body));
  EXPECT_EQ(tag->Version, 2);
  EXPECT_EQ(tag->Title, "Old Title");
  EXPECT_EQ(tag->Artist, "Old Artist");
  EXPECT_EQ(tag->Comment, "Old comment");
  EXPECT_EQ(tag->Track, 9);
  EXPECT_EQ(tag->Year, "1970");
}

TEST(ID3v2Tag, FallbackSlots) {
  const Bytes body = Concat({ID3Frame(3, "TIT1", Text(0, "Group")), ID3Frame(3, "TOPE", Text(0, "Original")),
                             ID3Frame(3, "TOAL", Text(0, "Orig Album"))});
  auto tag = Read(ID3Tag(3, body));
  EXPECT_EQ(tag->Title, "Group");
  EXPECT_EQ(tag->Artist, "Original");
  EXPECT_EQ(tag->Album, "Orig Album");
}

TEST(ID3v2Tag, OtherFields) {
  const Bytes body = Concat({ID3Frame(3, "TCOM", Text(0, "Composer")), ID3Frame(3, "TENC", Text(0, "Encoder")),
                             ID3Frame(3, "TCOP", Text(0, "(C) Someone")), ID3Frame(3, "TLAN", Text(0, "eng")),
                             ID3Frame(3, "WXXX", Text(0, std::string("site\0http://x.example/", 22)))});
  auto tag = Read(ID3Tag(3, body));
  EXPECT_EQ(tag->Composer, "Composer");
  EXPECT_EQ(tag->Encoder, "Encoder");
  EXPECT_EQ(tag->Copyright, "(C) Someone");
  EXPECT_EQ(tag->Language, "eng");
  EXPECT_EQ(tag->Link, "http://x.example/");
}

TEST(ID3v2Tag, GenreDropsNumericReferences) {
  auto genre = [](const std::string& text) { return Read(ID3Tag(3, ID3Frame(3, "TCON", Text(0, text))))->Genre; };
  EXPECT_EQ(genre("(17)Rock"), "Rock");
  EXPECT_EQ(genre("(17)"), "");
  EXPECT_EQ(genre("Trip-Hop"), "Trip-Hop");
  EXPECT_EQ(genre("(4)(17)Disco Rock"), "Disco Rock");
}

TEST(ID3v2Tag, LaterFrameReplacesEarlier) {
  const Bytes body = Concat({ID3Frame(3, "COMM", Text(0, std::string("eng\0first", 9))),
                             ID3Frame(3, "COMM", Text(0, std::string("eng\0second", 10)))});
  EXPECT_EQ(Read(ID3Tag(3, body))->Comment, "second");
}

TEST(ID3v2Tag, TrackTextThatIsNoNumber) {
  auto tag = Read(ID3Tag(3, ID3Frame(3, "TRCK", Text(0, "A-side"))));
  EXPECT_EQ(tag->Track, 0);
  EXPECT_EQ(tag->TrackText, "A-side");
}

TEST(ID3v2Tag, TrackNumberParsing) {
  EXPECT_EQ(TID3v2::TrackNumber("5/12"), 5);
  EXPECT_EQ(TID3v2::TrackNumber("12"), 12);
  EXPECT_EQ(TID3v2::TrackNumber("  7"), 7);
  EXPECT_EQ(TID3v2::TrackNumber("+3"), 3);
  EXPECT_EQ(TID3v2::TrackNumber("$1F"), 31);
  EXPECT_EQ(TID3v2::TrackNumber("0x10"), 16);
  EXPECT_EQ(TID3v2::TrackNumber("x10/20"), 16);
  EXPECT_EQ(TID3v2::TrackNumber("-1"), 65535);         // low 16 bits
  EXPECT_EQ(TID3v2::TrackNumber("70000"), 70000 & 0xFFFF);
  EXPECT_EQ(TID3v2::TrackNumber("2147483647"), 0xFFFF);
  EXPECT_EQ(TID3v2::TrackNumber("2147483648"), 0);     // beyond 32 bits
  EXPECT_EQ(TID3v2::TrackNumber("-2147483648"), 0);    // low 16 bits of INT32_MIN
  EXPECT_EQ(TID3v2::TrackNumber("$FFFFFFFF"), 0xFFFF);
  EXPECT_EQ(TID3v2::TrackNumber("$100000000"), 0);
  EXPECT_EQ(TID3v2::TrackNumber(""), 0);
  EXPECT_EQ(TID3v2::TrackNumber("/12"), 0);
  EXPECT_EQ(TID3v2::TrackNumber("3 "), 0);
  EXPECT_EQ(TID3v2::TrackNumber("0x"), 0);
  EXPECT_EQ(TID3v2::TrackNumber("1e3"), 0);
  EXPECT_EQ(TID3v2::TrackNumber("-"), 0);
}

TEST(ID3v2Text, Latin1BecomesUTF8) {
  auto tag = Read(ID3Tag(3, ID3Frame(3, "TIT2", Text(0, "Caf\xE9 \xFF"))));
  EXPECT_EQ(tag->Title, "Caf\u00E9 \u00FF");
}

TEST(ID3v2Text, Utf16HonoursTheByteOrderMark) {
  // Little-endian with FF FE; the unit 00FF (low byte 0xFF) is a character.
  const std::string le = "\xFF\xFE" + Wide("Na\xEFve \xFF");
  EXPECT_EQ(Read(ID3Tag(3, ID3Frame(3, "TIT2", Text(1, le))))->Title, "Na\u00EFve \u00FF");
  // Big-endian with FE FF.
  const std::string be = "\xFE\xFF" + Wide("Big End \xFF", true);
  EXPECT_EQ(Read(ID3Tag(3, ID3Frame(3, "TIT2", Text(1, be))))->Title, "Big End \u00FF");
  // CJK: U+65E5 U+672C (日本) little-endian, U+FF21 (a fullwidth A, low byte 0x21)
  // and U+30FF (low byte 0xFF) kept.
  const std::string cjk("\xFF\xFE\xE5\x65\x2C\x67\x21\xFF\xFF\x30", 10);
  EXPECT_EQ(Read(ID3Tag(3, ID3Frame(3, "TIT2", Text(1, cjk))))->Title, "\u65E5\u672C\uFF21\u30FF");
  // Without a mark: little-endian.
  EXPECT_EQ(Read(ID3Tag(3, ID3Frame(3, "TIT2", Text(1, Wide("plain")))))->Title, "plain");
}

TEST(ID3v2Text, Utf16SurrogatesAndStrays) {
  // U+1D11E as the pair D834 DD1E; a lone D800 becomes U+FFFD.
  const std::string pair("\xFF\xFE\x34\xD8\x1E\xDD", 6);
  EXPECT_EQ(TID3v2::DecodeText("\x01" + pair), "\U0001D11E");
  const std::string lone("\xFF\xFE" "a\0\x00\xD8" "b\0", 8);
  EXPECT_EQ(TID3v2::DecodeText("\x01" + lone), "a\uFFFDb");
  // The text ends at the first zero unit; trimmed at both ends.
  const std::string two("\xFF\xFE \0x\0 \0\0\0y\0", 12);
  EXPECT_EQ(TID3v2::DecodeText("\x01" + two), "x");
  // An odd byte at the end is not half a unit.
  EXPECT_EQ(TID3v2::DecodeText(std::string("\x01\xFF\xFEh\0i\0!", 8)), "hi");
  EXPECT_EQ(TID3v2::DecodeText(std::string("\x01", 1)), "");
  EXPECT_EQ(TID3v2::DecodeText(""), "");
}

TEST(ID3v2Text, EncodingsTwoAndThreeAreIgnored) {
  const Bytes body = Concat({ID3Frame(3, "TIT2", Text(3, "UTF-8 title")), ID3Frame(3, "TIT1", Text(0, "Fallback")),
                             ID3Frame(3, "TPE1", Text(2, Wide("BE artist", true)))});
  auto tag = Read(ID3Tag(3, body));
  EXPECT_EQ(tag->Title, "Fallback");
  EXPECT_EQ(tag->Artist, "");
  // A later frame in encoding 3 does not wipe an earlier taken one.
  const Bytes twice = Concat({ID3Frame(3, "TALB", Text(0, "Kept")), ID3Frame(3, "TALB", Text(3, "Other"))});
  EXPECT_EQ(Read(ID3Tag(3, twice))->Album, "Kept");
}

TEST(ID3v2Text, CommentDescriptionRule) {
  // UTF-16, empty description.
  const std::string empty = std::string("eng\xFF\xFE\0\0\xFF\xFE", 9) + Wide("Text one");
  EXPECT_EQ(Read(ID3Tag(3, ID3Frame(3, "COMM", Text(1, empty))))->Comment, "Text one");
  // UTF-16 description whose last character has a zero high byte ("note" ->
  // 'e' = 65 00): the terminator is the zero unit after it, not the zero bytes
  // straddling the two.
  const std::string desc = "eng\xFF\xFE" + Wide("note") + std::string("\0\0\xFF\xFE", 4) + Wide("Text two");
  EXPECT_EQ(Read(ID3Tag(3, ID3Frame(3, "COMM", Text(1, desc))))->Comment, "Text two");
  // Latin-1 without any terminator: nothing removed but the language.
  EXPECT_EQ(TID3v2::ExtractText(std::string("\0engno terminator", 17), true), "no terminator");
  // WXXX has no language code.
  EXPECT_EQ(TID3v2::ExtractText(std::string("\0d\0http://a/", 12), false), "http://a/");
  const std::string wlink = std::string("\x01\xFF\xFE", 3) + Wide("d") + std::string("\0\0", 2) + Wide("http://b/");
  EXPECT_EQ(TID3v2::ExtractText(wlink, false), "http://b/");
  EXPECT_EQ(TID3v2::ExtractText("", true), "");
  EXPECT_EQ(TID3v2::ExtractText(std::string("\x01", 1), true), "");
}

TEST(ID3v2Walk, LongFrameReadsFiveHundredBytesAndTheNextIsFound) {
  const std::string text(799, 'L');
  const Bytes body = Concat({ID3Frame(3, "TIT2", Text(0, text)), ID3Frame(3, "TPE1", Text(0, "Next"))});
  auto tag = Read(ID3Tag(3, body));
  EXPECT_EQ(tag->Title, std::string(499, 'L'));
  EXPECT_EQ(tag->Artist, "Next");
}

TEST(ID3v2Walk, ExtendedHeaderEndsTheWalk) {
  Bytes body{0, 0, 0, 6, 0, 0, 0, 0, 0, 0};
  Append(body, ID3Frame(3, "TIT2", Text(0, "Unseen")));
  auto tag = Read(ID3Tag(3, body, 0x40));
  EXPECT_TRUE(tag->Present);
  EXPECT_EQ(tag->Version, 3);
  EXPECT_EQ(tag->Size, static_cast<std::int32_t>(body.size() + 10));
  EXPECT_EQ(tag->Title, "");
}

TEST(ID3v2Walk, UnknownVersionsHaveNoFields) {
  auto tag = Read(ID3Tag(5, ID3Frame(4, "TIT2", Text(0, "Five"))));
  EXPECT_TRUE(tag->Present);
  EXPECT_EQ(tag->Version, 5);
  EXPECT_EQ(tag->Title, "");
}

TEST(ID3v2Walk, CompressedAndEncryptedFramesAreSkipped) {
  const Bytes v3 = Concat({ID3Frame(3, "TIT2", Text(0, "Packed"), 0x80), ID3Frame(3, "TPE1", Text(0, "Plain"))});
  auto tag = Read(ID3Tag(3, v3));
  EXPECT_EQ(tag->Title, "");
  EXPECT_EQ(tag->Artist, "Plain");
  const Bytes v4 = Concat({ID3Frame(4, "TIT2", Text(0, "Packed"), 0x08), ID3Frame(4, "TALB", Text(0, "Secret"), 0x04),
                           ID3Frame(4, "TPE1", Text(0, "Plain"))});
  tag = Read(ID3Tag(4, v4));
  EXPECT_EQ(tag->Title, "");
  EXPECT_EQ(tag->Album, "");
  EXPECT_EQ(tag->Artist, "Plain");
}

TEST(ID3v2Walk, Version4DataLengthIndicator) {
  Bytes content = SyncSafe(7);
  Append(content, Text(0, "Length"));
  auto tag = Read(ID3Tag(4, ID3Frame(4, "TIT2", content, 0x01)));
  EXPECT_EQ(tag->Title, "Length");
}

TEST(ID3v2Walk, HostileSizesEndTheWalk) {
  // A version 3 size with its top bit set.
  Bytes bad = ID3Frame(3, "TPE1", Text(0, "x"));
  bad[4] = 0x80;
  auto tag = Read(ID3Tag(3, Concat({ID3Frame(3, "TIT2", Text(0, "Before")), bad, ID3Frame(3, "TALB", Text(0, "No"))})));
  EXPECT_EQ(tag->Title, "Before");
  EXPECT_EQ(tag->Artist, "");
  EXPECT_EQ(tag->Album, "");
  // A version 4 size that is not sync-safe.
  Bytes bad4 = ID3Frame(4, "TPE1", Text(0, "x"));
  bad4[7] |= 0x80;
  tag = Read(ID3Tag(4, Concat({ID3Frame(4, "TIT2", Text(0, "Before")), bad4, ID3Frame(4, "TALB", Text(0, "No"))})));
  EXPECT_EQ(tag->Title, "Before");
  EXPECT_EQ(tag->Album, "");
  // A frame that runs past the end of the file: its content cannot be read.
  Bytes longer = ID3Frame(3, "TPE1", Text(0, "short"));
  PutBE32(longer, 4, 100000);
  Bytes file = ID3Tag(3, Concat({ID3Frame(3, "TIT2", Text(0, "Before")), longer}));
  TID3v2 reader;
  EXPECT_TRUE(reader.ReadTag(file));
  EXPECT_EQ(reader.Title, "Before");
  EXPECT_EQ(reader.Artist, "");
}

TEST(ID3v2Walk, ZeroSizedFramesStillAdvance) {
  Bytes body;
  for (int i = 0; i < 200; ++i) Append(body, ID3Frame(3, "TXXX", {}));
  Append(body, ID3Frame(3, "TIT2", Text(0, "End")));
  EXPECT_EQ(Read(ID3Tag(3, body))->Title, "End");
}

TEST(ID3v2Walk, LowerCaseFrameIdEndsTheWalk) {
  const Bytes body = Concat({ID3Frame(3, "tit2", Text(0, "a")), ID3Frame(3, "TPE1", Text(0, "b"))});
  EXPECT_EQ(Read(ID3Tag(3, body))->Artist, "");
}

TEST(ID3v2Files, ShortAndUntaggedFiles) {
  TID3v2 reader;
  const Bytes nine{'I', 'D', '3', 3, 0, 0, 0, 0, 0};
  EXPECT_FALSE(reader.ReadTag(nine));
  EXPECT_FALSE(reader.Present);
  const Bytes lower{'i', 'd', '3', 3, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_TRUE(reader.ReadTag(lower));
  EXPECT_FALSE(reader.Present);
  EXPECT_FALSE(reader.ReadTag(FixturePath("missing.mp3")));
  // A read clears what an earlier read found.
  EXPECT_TRUE(reader.ReadTag(FixturePath("id3v23.mp3")));
  EXPECT_TRUE(reader.Present);
  EXPECT_TRUE(reader.ReadTag(FixturePath("cbr128.mp3")));
  EXPECT_FALSE(reader.Present);
  EXPECT_EQ(reader.Title, "");
  EXPECT_EQ(reader.Size, 0);
}

// --- Real tag writers ------------------------------------------------------

TEST(ID3v2Fixtures, FfmpegVersion3Utf16Title) {
  TID3v2 tag;
  ASSERT_TRUE(tag.ReadTag(FixturePath("id3v23.mp3")));
  EXPECT_EQ(tag.Version, 3);
  EXPECT_EQ(tag.Title, "Grüße – Ωmega ☃ 𝄞");
  EXPECT_EQ(tag.Artist, "Plain Artist");
  EXPECT_EQ(tag.Album, "Album 3");
  EXPECT_EQ(tag.Track, 5);
  EXPECT_EQ(tag.TrackText, "5/12");
  EXPECT_EQ(tag.Year, "1999");
  EXPECT_EQ(tag.Genre, "Ambient");
  EXPECT_EQ(tag.Encoder, "");  // ffmpeg writes TSSE, not TENC
}

TEST(ID3v2Fixtures, LameUtf16WithComment) {
  TID3v2 tag;
  ASSERT_TRUE(tag.ReadTag(FixturePath("id3v2_lame_utf16.mp3")));
  EXPECT_EQ(tag.Title, "Lame Titel ÿ");
  EXPECT_EQ(tag.Artist, "Lame Artist");
  EXPECT_EQ(tag.Comment, "Lame comment");
  EXPECT_EQ(tag.Track, 2);
  EXPECT_EQ(tag.TrackText, "2/10");
  EXPECT_EQ(tag.Year, "2001");
}

TEST(ID3v2Fixtures, MutagenVersion4) {
  TID3v2 tag;
  ASSERT_TRUE(tag.ReadTag(FixturePath("id3v24_mutagen.mp3")));
  EXPECT_EQ(tag.Version, 4);
  EXPECT_EQ(tag.Title, "Sync-safe " + std::string(190, 'x'));
  EXPECT_EQ(tag.Artist, "Ünïcødé Ärtist ♫");
  EXPECT_EQ(tag.Album, "");  // UTF-8
  EXPECT_EQ(tag.Track, 3);
  EXPECT_EQ(tag.TrackText, "3/9");
  EXPECT_EQ(tag.Year, "2004");
  EXPECT_EQ(tag.Genre, "Rock");
  EXPECT_EQ(tag.Comment, "Comment four");
  EXPECT_EQ(tag.Link, "http://example.org/");
  EXPECT_EQ(tag.Composer, "Composer ü");
}

TEST(ID3v2Fixtures, FfmpegVersion4InUtf8HasNoTexts) {
  TID3v2 tag;
  ASSERT_TRUE(tag.ReadTag(FixturePath("id3v24.mp3")));
  EXPECT_TRUE(tag.Present);
  EXPECT_EQ(tag.Version, 4);
  EXPECT_GT(tag.Size, 10);
  EXPECT_EQ(tag.Title, "");
  EXPECT_EQ(tag.Artist, "");
}
