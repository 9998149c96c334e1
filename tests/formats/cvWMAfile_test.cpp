// Tests of the WMA (ASF) header reader on ffmpeg's wmav1/wmav2 output and on
// headers built here for the object walk's edge cases.
#include "formats/cvWMAfile.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tests/formats/reader_test_util.h"

namespace cv {
namespace {

using namespace cv::testing;

using TGuid = std::array<uint8_t, 16>;
// File byte order of the GUIDs.
const TGuid kHeader = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const TGuid kFileProps = {0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const TGuid kStreamProps = {0x91, 0x07, 0xDC, 0xB7, 0xB7, 0xA9, 0xCF, 0x11, 0x8E, 0xE6, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
const TGuid kContentDesc = {0x33, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11, 0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
const TGuid kExtContentDesc = {0x40, 0xA4, 0xD0, 0xD2, 0x07, 0xE3, 0xD2, 0x11, 0x97, 0xF0, 0x00, 0xA0, 0xC9, 0x5E, 0xA8, 0x50};
const TGuid kPadding = {0x74, 0xD4, 0x06, 0x18, 0xDF, 0xCA, 0x09, 0x45, 0xA4, 0xBA, 0x9A, 0xAB, 0xCB, 0x96, 0xAA, 0xE8};

Bytes Object(const TGuid& id, const Bytes& body) {
  Bytes b(id.begin(), id.end());
  Put64(b, 24 + body.size());
  PutBytes(b, body);
  return b;
}

Bytes FileProps(uint32_t maxBitRate) {
  Bytes body(100 - 24, 0);
  Put32(body, maxBitRate);
  return Object(kFileProps, body);
}

Bytes StreamProps(uint16_t channels, uint32_t rate, uint32_t avgBytes, uint16_t tag = 0x161) {
  Bytes body(78 - 24, 0);
  Put16(body, tag);
  Put16(body, channels);
  Put32(body, rate);
  Put32(body, avgBytes);
  Put16(body, 0);  // nBlockAlign
  Put16(body, 16);
  return Object(kStreamProps, body);
}

// UTF-16LE with a terminating zero, as ASF writers store strings.
Bytes Wide(std::u16string_view s, bool terminate = true) {
  Bytes b;
  for (char16_t c : s) Put16(b, c);
  if (terminate) Put16(b, 0);
  return b;
}

Bytes ContentDesc(std::u16string_view title, std::u16string_view author, std::u16string_view description) {
  const Bytes t = title.empty() ? Bytes{} : Wide(title);
  const Bytes a = author.empty() ? Bytes{} : Wide(author);
  const Bytes c = Wide(u"(c)");
  const Bytes d = description.empty() ? Bytes{} : Wide(description);
  Bytes body;
  for (const Bytes* s : {&t, &a, &c, &d}) Put16(body, static_cast<uint16_t>(s->size()));
  Put16(body, 0);
  for (const Bytes* s : {&t, &a, &c, &d}) PutBytes(body, *s);
  return Object(kContentDesc, body);
}

struct TDescriptor {
  std::u16string Name;
  uint16_t Type;
  Bytes Value;
};
TDescriptor Text(std::u16string name, std::u16string value) { return {std::move(name), 0, Wide(value)}; }

Bytes ExtContentDesc(const std::vector<TDescriptor>& ds) {
  Bytes body;
  Put16(body, static_cast<uint16_t>(ds.size()));
  for (const auto& d : ds) {
    const Bytes name = Wide(d.Name);
    Put16(body, static_cast<uint16_t>(name.size()));
    PutBytes(body, name);
    Put16(body, d.Type);
    Put16(body, static_cast<uint16_t>(d.Value.size()));
    PutBytes(body, d.Value);
  }
  return Object(kExtContentDesc, body);
}

Bytes Asf(const std::vector<Bytes>& objects, std::optional<int32_t> count = std::nullopt, size_t padTo = 0) {
  Bytes inner;
  for (const auto& o : objects) PutBytes(inner, o);
  Bytes b(kHeader.begin(), kHeader.end());
  Put64(b, 30 + inner.size());
  Put32(b, static_cast<uint32_t>(count.value_or(static_cast<int32_t>(objects.size()))));
  Put8(b, 1);
  Put8(b, 2);
  PutBytes(b, inner);
  if (b.size() < padTo) b.resize(padTo, 0);  // stands for the data object
  return b;
}

std::vector<Bytes> Basic() { return {FileProps(128000), StreamProps(2, 44100, 16000)}; }

TEST(WMAfileFixtures, EncodedFilesOfBothVersions) {
  struct Case {
    const char* file;
    uint16_t tag;
  };
  for (const Case& c : {Case{"v1_stereo_44k.wma", 0x160}, Case{"v2_stereo_44k.wma", 0x161}}) {
    SCOPED_TRACE(c.file);
    TWMAfile w;
    ASSERT_TRUE(w.ReadFileInfo(Fixture(std::string("wma/") + c.file)));
    ASSERT_TRUE(w.Valid);
    EXPECT_EQ(w.FormatTag, c.tag);
    EXPECT_EQ(w.ChannelCount, 2);
    EXPECT_EQ(w.SampleRate, 44100);
    EXPECT_EQ(w.BitRateKbps, 64);
    // Content Description: title and author; extended descriptors: the rest.
    EXPECT_EQ(w.Title, "WMA Tone ✓");
    EXPECT_EQ(w.Artist, "Corvid Test");
    EXPECT_EQ(w.Album, "Fixture Album");
    EXPECT_EQ(w.Year, "2024");
    EXPECT_EQ(w.Genre, "Test Genre");
    EXPECT_EQ(w.Track, 7);  // "WM/Track" = "07"; "WM/TrackNumber" fills nothing
    // ffmpeg stores the comment as a "Description" descriptor, which is not
    // one of the names read.
    EXPECT_EQ(w.Comment, "");
    // Two seconds of audio; the estimate from file size and maximum bit rate
    // counts the header and the packet overhead as well.
    EXPECT_GE(w.DurationSectors, 150);
    EXPECT_LT(w.DurationSectors, 225);
  }
}

TEST(WMAfileFixtures, MonoFile) {
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Fixture("wma/v2_mono_22k.wma")));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.ChannelCount, 1);
  EXPECT_EQ(w.SampleRate, 22050);
  EXPECT_EQ(w.BitRateKbps, 32);
  EXPECT_EQ(w.Title, "Mono");
}

TEST(WMAfileFixtures, OtherFormatsAreReadButNotValid) {
  for (const char* f : {"wav/pcm16_stereo_44k.wav", "ogg/tagged_stereo_44k.ogg", "wav/mp3_in_riff.wav"}) {
    SCOPED_TRACE(f);
    TWMAfile w;
    EXPECT_TRUE(w.ReadFileInfo(Fixture(f)));
    EXPECT_FALSE(w.Valid);
  }
}

TEST(WMAfileHeader, DurationOfOneAndAHalfSeconds) {
  // 1500 bytes at 8000 bit/s are 1500 ms: 75 + Ceil(500 / 13.333) = 113.
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf({FileProps(8000), StreamProps(1, 8000, 1000)}, {}, 1500)));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.FileSize, 1500);
  EXPECT_EQ(w.DurationSectors, 113);
  EXPECT_EQ(w.BitRateKbps, 8);
}

TEST(WMAfileHeader, TwoStreamObjectsTakeTheSecond) {
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf({FileProps(128000), StreamProps(1, 22050, 4000, 0x160), StreamProps(2, 48000, 24000)})));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.ChannelCount, 2);
  EXPECT_EQ(w.SampleRate, 48000);
  EXPECT_EQ(w.BitRateKbps, 192);
  EXPECT_EQ(w.FormatTag, 0x161);
}

TEST(WMAfileHeader, NonStringDescriptorIsSkippedByItsLength) {
  Bytes dword;
  Put32(dword, 5);
  auto objects = Basic();
  objects.push_back(ExtContentDesc({{u"WM/Title", 3, dword}, Text(u"WM/AlbumTitle", u"Album"),
                                    {u"WM/Picture", 1, Bytes(300, 0xAB)}, Text(u"WM/Genre", u"Rock")}));
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.Title, "");
  EXPECT_EQ(w.Album, "Album");
  EXPECT_EQ(w.Genre, "Rock");
}

TEST(WMAfileHeader, OverLongStringKeeps250CharactersAndTheNextFieldIsRead) {
  std::u16string longTitle;
  for (int i = 0; i < 300; ++i) longTitle.push_back(static_cast<char16_t>(u'A' + i % 26));
  auto objects = Basic();
  objects.push_back(ContentDesc(longTitle, u"Next Author", u""));  // 602 bytes of title
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.Title.size(), 250u);
  EXPECT_EQ(w.Title, std::string(longTitle.begin(), longTitle.begin() + 250));
  EXPECT_EQ(w.Artist, "Next Author");
}

TEST(WMAfileHeader, OddStringLengthSkipsTheOddByte) {
  Bytes title = Wide(u"Odd");
  title.push_back('!');  // 9 bytes: 4 units and one byte skipped
  Bytes body;
  Put16(body, static_cast<uint16_t>(title.size()));
  Put16(body, static_cast<uint16_t>(Wide(u"Who").size()));
  for (int i = 0; i < 3; ++i) Put16(body, 0);
  PutBytes(body, title);
  PutBytes(body, Wide(u"Who"));
  auto objects = Basic();
  objects.push_back(Object(kContentDesc, body));
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
  EXPECT_EQ(w.Title, "Odd");
  EXPECT_EQ(w.Artist, "Who");
}

TEST(WMAfileHeader, DescriptorNamesMatchWithoutCase) {
  auto objects = Basic();
  objects.push_back(ExtContentDesc({Text(u"wm/title", u"lower"), Text(u"WM/TrackNumber", u"9"),
                                    Text(u" WM/Author ", u"Spaced"), Text(u"WM/Description", u"desc")}));
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
  EXPECT_EQ(w.Title, "lower");
  EXPECT_EQ(w.Track, 0);
  EXPECT_EQ(w.Artist, "Spaced");
  EXPECT_EQ(w.Comment, "desc");
}

TEST(WMAfileHeader, LaterObjectsReplaceEarlierSlots) {
  auto objects = Basic();
  objects.push_back(ContentDesc(u"First", u"Author", u"Comment"));
  objects.push_back(ExtContentDesc({Text(u"WM/Title", u"Second"), Text(u"WM/Title", u"Third")}));
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
  EXPECT_EQ(w.Title, "Third");
  EXPECT_EQ(w.Artist, "Author");
  EXPECT_EQ(w.Comment, "Comment");
}

TEST(WMAfileHeader, TrackTag) {
  struct Case {
    std::u16string text;
    int32_t track;
  };
  for (const Case& c : {Case{u"7", 7}, Case{u" 12 ", 12}, Case{u"7/12", 0}, Case{u"", 0}, Case{u"x", 0}}) {
    auto objects = Basic();
    objects.push_back(ExtContentDesc({Text(u"WM/Track", c.text)}));
    TWMAfile w;
    ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
    EXPECT_EQ(w.Track, c.track);
  }
}

TEST(WMAfileHeader, Utf16SurrogatesBecomeUtf8) {
  auto objects = Basic();
  objects.push_back(ExtContentDesc({Text(u"WM/Title", u"\U0001F3B5 ok"), Text(u"WM/Genre", u"\xD800x")}));
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
  EXPECT_EQ(w.Title, "\xF0\x9F\x8E\xB5 ok");
  EXPECT_EQ(w.Genre, "\xEF\xBF\xBDx");  // an unpaired surrogate is U+FFFD
}

TEST(WMAfileHeader, PlausibilityRanges) {
  struct Case {
    uint32_t maxBitRate;
    uint16_t channels;
    uint32_t rate, avgBytes;
    bool valid;
  };
  const Case cases[] = {
      {1, 1, 8000, 1, true},           {1319999, 2, 96000, 439999, true},
      {0, 2, 44100, 16000, false},     {1320000, 2, 44100, 16000, false},
      {128000, 0, 44100, 16000, false}, {128000, 3, 44100, 16000, false},
      {128000, 2, 7999, 16000, false},  {128000, 2, 96001, 16000, false},
      {128000, 2, 44100, 0, false},     {128000, 2, 44100, 440000, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.maxBitRate);
    auto objects = std::vector<Bytes>{FileProps(c.maxBitRate), StreamProps(c.channels, c.rate, c.avgBytes),
                                      ContentDesc(u"Title", u"", u"")};
    TWMAfile w;
    ASSERT_TRUE(w.ReadFileInfo(Asf(objects)));
    EXPECT_EQ(w.Valid, c.valid);
    if (!c.valid) {
      EXPECT_EQ(w.Title, "");  // fields stay cleared
      EXPECT_EQ(w.ChannelCount, 0);
    }
  }
}

TEST(WMAfileHeader, ShortAndTruncatedHeaders) {
  TWMAfile w;
  Bytes tiny(kHeader.begin(), kHeader.begin() + 15);
  EXPECT_FALSE(w.ReadFileInfo(tiny));
  EXPECT_FALSE(w.ReadFileInfo(std::string("/nonexistent/corvid.wma")));

  // Five objects announced, two present: a short read.
  EXPECT_FALSE(w.ReadFileInfo(Asf(Basic(), 5)));
  EXPECT_FALSE(w.Valid);

  // A content description cut in the middle of its strings.
  auto objects = Basic();
  objects.push_back(ContentDesc(u"A title that is cut", u"", u""));
  const Bytes whole = Asf(objects);
  const Bytes cut(whole.begin(), whole.end() - 10);
  EXPECT_FALSE(w.ReadFileInfo(cut));
  EXPECT_EQ(w.ChannelCount, 0);
}

TEST(WMAfileHeader, TinyObjectSizeEndsTheWalk) {
  // An object claiming 0 bytes would otherwise be read again and again.
  Bytes stuck(kPadding.begin(), kPadding.end());
  Put64(stuck, 0);
  auto objects = Basic();
  objects.push_back(stuck);
  TWMAfile w;
  EXPECT_TRUE(w.ReadFileInfo(Asf(objects, 0x7FFFFFFF)));
  EXPECT_TRUE(w.Valid);  // what came before it still counts

  // An object size far beyond the file: the next object is a short read.
  Bytes huge(kPadding.begin(), kPadding.end());
  Put64(huge, 0xFFFFFFFFFFFFull);
  objects = Basic();
  objects.insert(objects.begin(), huge);
  EXPECT_FALSE(w.ReadFileInfo(Asf(objects)));
}

TEST(WMAfileHeader, NegativeObjectCountReadsNothing) {
  TWMAfile w;
  EXPECT_TRUE(w.ReadFileInfo(Asf(Basic(), -1)));
  EXPECT_FALSE(w.Valid);
}

// A source of a size beyond what the tests write: the header in front,
// zeros after it.
class TSparseSource final : public TByteSource {
 public:
  TSparseSource(Bytes head, int64_t size) : head_(std::move(head)), size_(size) {}
  bool IsOpen() const override { return true; }
  int64_t Size() const override { return size_; }
  size_t ReadAt(int64_t position, std::span<uint8_t> dst) override {
    if (position < 0 || position > size_) return 0;
    const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(dst.size()), size_ - position));
    for (size_t i = 0; i < n; ++i) {
      const int64_t at = position + static_cast<int64_t>(i);
      dst[i] = at < static_cast<int64_t>(head_.size()) ? head_[static_cast<size_t>(at)] : 0;
    }
    return n;
  }

 private:
  Bytes head_;
  int64_t size_;
};

TEST(WMAfileHeader, DurationOfFilesOf256MiBAndMore) {
  // 300 MiB at 128 kbit/s: 314572800 x 8 / 128000 s = 19660.8 s, so
  // ms = 19660800 and 19660 x 75 + Ceil(800 / 13.333) = 1474500 + 61.
  TSparseSource source(Asf(Basic()), 300LL * 1024 * 1024);
  TWMAfile w;
  ASSERT_TRUE(w.ReadFileInfo(source));
  ASSERT_TRUE(w.Valid);
  EXPECT_EQ(w.FileSize, 314572800);
  EXPECT_EQ(w.DurationSectors, 1474561);

  // 3 GiB, beyond 32-bit signed file sizes as well.
  TSparseSource big(Asf(Basic()), 3LL * 1024 * 1024 * 1024);
  ASSERT_TRUE(w.ReadFileInfo(big));
  // 3221225472 x 8 / 128000 = 201326.592 s: 201326 x 75 + Ceil(592 / 13.333) = 15099450 + 45.
  EXPECT_EQ(w.DurationSectors, 15099495);
}

}  // namespace
}  // namespace cv
