// corvid-burn probe [--json] FILE...: identifies each file as the decoder
// does (the signatures of FLAC, Ogg Opus, MP4 and AIFF first, then the readers in
// the order WMA, MP3, Ogg Vorbis, WAV) and prints its
// kind, estimated length, stream parameters and tags. With --json, one object
// per file holding also every field of each reader that was tried. Each file
// is also measured (length_sectors, the length a burn writes: counted from
// what the file says where that is exact, length_counted, else by decoding
// it once) unless --no-measure is given. A file that cannot be
// opened is reported on its own and the others are still probed; the exit
// status is then 1. Playlists and cue sheets are probed as the tracks they
// name: each with the list, line and range it comes from, and, for a cue
// sheet's track, the length of its part of the file.
#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/cli/cli.h"
#include "burner/cvTrackSource.h"
#include "decode/cvAudFiles.h"
#include "formats/cvTrackList.h"

namespace {

using nlohmann::json;
using namespace cv;

std::string MSFText(uint32_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%2.2u:%2.2u:%2.2u", static_cast<unsigned>((sectors / 4500) & 0xFF),
                static_cast<unsigned>((sectors / 75) % 60), static_cast<unsigned>(sectors % 75));
  return text;
}

json WMAJson(const TWMAfile& r) {
  return {{"Valid", r.Valid},           {"FileSize", r.FileSize},
          {"ChannelCount", r.ChannelCount}, {"SampleRate", r.SampleRate},
          {"DurationSectors", r.DurationSectors}, {"BitRateKbps", r.BitRateKbps},
          {"Title", r.Title},           {"Artist", r.Artist},
          {"Album", r.Album},           {"Track", r.Track},
          {"Year", r.Year},             {"Genre", r.Genre},
          {"Comment", r.Comment},       {"FormatTag", r.FormatTag},
          {"MaxBitRate", r.MaxBitRate}, {"AvgBytesPerSec", r.AvgBytesPerSec}};
}

json OGGJson(const TOGGFile& r) {
  return {{"FileSize", r.FileSize},
          {"SampleRate", r.SampleRate},
          {"BitRateNominal", r.BitRateNominal},
          {"Samples", r.Samples},
          {"ID3v2Size", r.ID3v2Size},
          {"Title", r.Title},
          {"Artist", r.Artist},
          {"Album", r.Album},
          {"Track", r.Track},
          {"Date", r.Date},
          {"Genre", r.Genre},
          {"Comment", r.Comment},
          {"Vendor", r.Vendor},
          {"ChannelCount", r.ChannelCount},
          {"DurationSectors", r.DurationSectors()},
          {"BitRate", r.BitRate()},
          {"IsValid", r.IsValid()}};
}

json WAVJson(const TWAVfile& r) {
  return {{"Valid", r.Valid},
          {"FormatTag", r.FormatTag},
          {"ChannelCount", r.ChannelCount},
          {"SampleRate", r.SampleRate},
          {"BytesPerSecond", r.BytesPerSecond},
          {"BlockAlign", r.BlockAlign},
          {"BitsPerSample", r.BitsPerSample},
          {"SampleCount", r.SampleCount},
          {"HeaderSize", r.HeaderSize},
          {"FileSize", r.FileSize},
          {"DataSize", r.DataSize},
          {"HasFact", r.HasFact},
          {"DurationSectors", r.DurationSectors()}};
}

json VorbisCommentJson(const TVorbisComment& t) {
  return {{"Vendor", t.Vendor}, {"Title", t.Title}, {"Artist", t.Artist}, {"Album", t.Album},
          {"Track", t.Track},   {"Date", t.Date},   {"Genre", t.Genre},   {"Comment", t.Comment}};
}

json FLACJson(const TFLACfile& r) {
  return {{"Valid", r.Valid},
          {"FileSize", r.FileSize},
          {"ID3v2Size", r.ID3v2Size},
          {"AudioOffset", r.AudioOffset},
          {"SampleRate", r.SampleRate},
          {"ChannelCount", r.ChannelCount},
          {"BitsPerSample", r.BitsPerSample},
          {"TotalSamples", r.TotalSamples},
          {"MinBlockSize", r.MinBlockSize},
          {"MaxBlockSize", r.MaxBlockSize},
          {"MinFrameSize", r.MinFrameSize},
          {"MaxFrameSize", r.MaxFrameSize},
          {"MD5", r.MD5},
          {"Blocks", r.Blocks},
          {"DurationSectors", r.DurationSectors()},
          {"Tags", VorbisCommentJson(r.Tags)}};
}

json OpusJson(const TOpusFile& r) {
  return {{"Valid", r.Valid},
          {"FileSize", r.FileSize},
          {"ID3v2Size", r.ID3v2Size},
          {"Serial", r.Serial},
          {"Version", r.Version},
          {"ChannelCount", r.ChannelCount},
          {"PreSkip", r.PreSkip},
          {"InputSampleRate", r.InputSampleRate},
          {"OutputGain", r.OutputGain},
          {"MappingFamily", r.MappingFamily},
          {"LastGranule", r.LastGranule},
          {"Samples", r.Samples()},
          {"DurationSectors", r.DurationSectors()},
          {"Tags", VorbisCommentJson(r.Tags)}};
}

json AIFFJson(const TAIFFfile& r) {
  return {{"Valid", r.Valid},
          {"AIFC", r.AIFC},
          {"Compression", r.Compression},
          {"FileSize", r.FileSize},
          {"ChannelCount", r.ChannelCount},
          {"SampleFrames", r.SampleFrames},
          {"SampleSize", r.SampleSize},
          {"SampleRate", r.SampleRate},
          {"DataOffset", r.DataOffset},
          {"DataSize", r.DataSize},
          {"Frames", r.Frames()},
          {"DurationSectors", r.DurationSectors()},
          {"Title", r.Title},
          {"Artist", r.Artist},
          {"Album", r.Album},
          {"Track", r.Track},
          {"Comment", r.Comment}};
}

json FrameJson(const FrameHeader& f) {
  return {{"Found", f.Found},
          {"Position", f.Position},
          {"Size", f.Size},
          {"EmptySideInfo", f.EmptySideInfo},
          {"Data", json::array({f.Data[0], f.Data[1], f.Data[2], f.Data[3]})},
          {"Version", f.Version},
          {"Layer", f.Layer},
          {"Protected", f.Protected},
          {"BitRateIndex", f.BitRateIndex},
          {"SampleRateIndex", f.SampleRateIndex},
          {"Padding", f.Padding},
          {"Private", f.Private},
          {"Mode", f.Mode},
          {"ModeExtension", f.ModeExtension},
          {"Copyright", f.Copyright},
          {"Original", f.Original},
          {"Emphasis", f.Emphasis}};
}

json VBRJson(const VBRData& v) {
  std::string id;
  for (char c : v.ID)
    if (c != '\0') id.push_back(c);
  return {{"Found", v.Found}, {"ID", id},         {"Frames", v.Frames},
          {"Bytes", v.Bytes}, {"Scale", v.Scale}, {"VendorID", v.VendorID}};
}

json ID3v1Json(const TID3v1& t) {
  return {{"Present", t.Present}, {"TagVersion", t.TagVersion}, {"Title", t.Title},
          {"Artist", t.Artist},   {"Album", t.Album},           {"Year", t.Year},
          {"Comment", t.Comment}, {"Track", t.Track},           {"Genre", t.Genre}};
}

json ID3v2Json(const TID3v2& t) {
  return {{"Present", t.Present},     {"Version", t.Version},     {"Size", t.Size},
          {"Title", t.Title},         {"Artist", t.Artist},       {"Album", t.Album},
          {"Track", t.Track},         {"TrackText", t.TrackText}, {"Year", t.Year},
          {"Genre", t.Genre},         {"Comment", t.Comment},     {"Composer", t.Composer},
          {"Encoder", t.Encoder},     {"Copyright", t.Copyright}, {"Language", t.Language},
          {"Link", t.Link}};
}

json MP3Json(const TMP3File& r) {
  return {{"FileLength", r.FileLength},
          {"EncoderID", r.EncoderID},
          {"VBR", VBRJson(r.VBR)},
          {"Frame", FrameJson(r.Frame)},
          {"ID3v1", ID3v1Json(*r.ID3v1)},
          {"ID3v2", ID3v2Json(*r.ID3v2)},
          {"IsValid", r.IsValid()},
          {"BitRateKbps", r.BitRateKbps()},
          {"SampleRateHz", r.SampleRateHz()},
          {"ChannelCount", r.ChannelCount()},
          {"DurationSectors", r.DurationSectors()}};
}

json M4AJson(const TMP4File& r) {
  const char* codec = r.Codec == TMP4Codec::AAC ? "AAC" : r.Codec == TMP4Codec::ALAC ? "ALAC" : "";
  return {{"Valid", r.Valid},
          {"MajorBrand", r.MajorBrand},
          {"Codec", codec},
          {"SampleEntry", r.CodecName},
          {"ChannelCount", r.ChannelCount},
          {"SampleRate", r.SampleRate},
          {"BitsPerSample", r.BitsPerSample},
          {"AvgBitRate", r.AvgBitRate},
          {"MovieTimeScale", r.MovieTimeScale},
          {"TimeScale", r.TimeScale},
          {"Samples", r.SampleSizes.size()},
          {"MediaUnits", r.MediaUnits},
          {"EncoderDelay", r.EncoderDelay},
          {"PlayableUnits", r.PlayableUnits},
          {"PlayableFrames", r.PlayableFrames()},
          {"HasEditList", r.HasEditList},
          {"HasSMPB", r.HasSMPB},
          {"Truncated", r.Truncated},
          {"Title", r.Title},
          {"Artist", r.Artist},
          {"Album", r.Album},
          {"Track", r.Track},
          {"TrackTotal", r.TrackTotal},
          {"DurationSectors", r.DurationSectors()}};
}

struct TProbeTags {
  std::string Title, Artist, Album, Year, Genre, Comment;
  int64_t Track = 0;
};

// The file's stream parameters and tags, from the reader that accepted it.
struct TProbeResult {
  uint32_t Channels = 0, SampleRate = 0, BitRateKbps = 0;
  uint32_t Bits = 0;  // bits per sample of a lossless or PCM source; 0 for lossy ones
  TProbeTags Tags;
};

TProbeResult Summarise(const TAudioFile& f) {
  TProbeResult r;
  switch (f.FileKind) {
    case afWMA: {
      const TWMAfile& w = *f.WMAFile;
      r = {w.ChannelCount, static_cast<uint32_t>(w.SampleRate), static_cast<uint32_t>(w.BitRateKbps), 0,
           {w.Title, w.Artist, w.Album, w.Year, w.Genre, w.Comment, w.Track}};
      break;
    }
    case afMP3: {
      const TMP3File& m = *f.MP3File;
      const TID3v2& v2 = *m.ID3v2;
      const TID3v1& v1 = *m.ID3v1;
      auto pick = [](const std::string& a, const std::string& b) { return a.empty() ? b : a; };
      std::string v1Genre = v1.Present ? std::string(ID3v1GenreName(v1.Genre)) : std::string();
      r = {m.ChannelCount(), m.SampleRateHz(), m.BitRateKbps(), 0,
           {pick(v2.Title, v1.Title), pick(v2.Artist, v1.Artist), pick(v2.Album, v1.Album),
            pick(v2.Year, v1.Year), pick(v2.Genre, v1Genre), pick(v2.Comment, v1.Comment),
            v2.Track != 0 ? v2.Track : v1.Track}};
      break;
    }
    case afOGG: {
      const TOGGFile& o = *f.OGGFile;
      r = {o.ChannelCount, o.SampleRate, o.BitRateNominal, 0,
           {o.Title, o.Artist, o.Album, o.Date, o.Genre, o.Comment, o.Track}};
      break;
    }
    case afWAV: {
      const TWAVfile& w = *f.WAVFile;
      r = {w.ChannelCount, w.SampleRate, static_cast<uint32_t>(uint64_t{w.BytesPerSecond} * 8 / 1000), w.BitsPerSample,
           {}};
      break;
    }
    case afFLAC: {
      const TFLACfile& l = *f.FLACFile;
      const TVorbisComment& t = l.Tags;
      const uint64_t seconds = l.SampleRate ? l.TotalSamples / l.SampleRate : 0;
      r = {l.ChannelCount, l.SampleRate,
           static_cast<uint32_t>(seconds ? uint64_t(l.FileSize - l.AudioOffset) * 8 / 1000 / seconds : 0),
           l.BitsPerSample,
           {t.Title, t.Artist, t.Album, t.Date, t.Genre, t.Comment, t.Track}};
      break;
    }
    case afOpus: {
      const TOpusFile& o = *f.OpusFile;
      const TVorbisComment& t = o.Tags;
      const uint64_t seconds = o.Samples() / TOpusFile::kDecodeRate;
      r = {o.ChannelCount, TOpusFile::kDecodeRate,
           static_cast<uint32_t>(seconds ? uint64_t(o.FileSize) * 8 / 1000 / seconds : 0), 0,
           {t.Title, t.Artist, t.Album, t.Date, t.Genre, t.Comment, t.Track}};
      break;
    }
    case afAIFF: {
      const TAIFFfile& a = *f.AIFFFile;
      r = {a.ChannelCount, a.SampleRate,
           static_cast<uint32_t>(uint64_t{a.SampleRate} * a.ChannelCount * a.SampleSize / 1000), a.SampleSize,
           {a.Title, a.Artist, a.Album, a.Year, a.Genre, a.Comment, a.Track}};
      break;
    }
    case afM4A: {
      const TMP4File& m = *f.M4AFile;
      r = {m.ChannelCount, m.SampleRate, m.AvgBitRate / 1000,
           m.Codec == TMP4Codec::ALAC ? uint32_t(m.BitsPerSample) : 0u,
           {m.Title, m.Artist, m.Album, "", "", "", m.Track}};
      break;
    }
    case afNone:
      break;
  }
  return r;
}

json FileJson(const std::string& path, const TAudioFile& f, bool measured) {
  const TProbeResult r = Summarise(f);
  json readers = json::object();
  if (f.WMAFile) readers["WMA"] = WMAJson(*f.WMAFile);
  if (f.MP3File) readers["MP3"] = MP3Json(*f.MP3File);
  if (f.OGGFile) readers["OGG"] = OGGJson(*f.OGGFile);
  if (f.WAVFile) readers["WAV"] = WAVJson(*f.WAVFile);
  if (f.FLACFile) readers["FLAC"] = FLACJson(*f.FLACFile);
  if (f.OpusFile) readers["OPUS"] = OpusJson(*f.OpusFile);
  if (f.M4AFile) readers["M4A"] = M4AJson(*f.M4AFile);
  if (f.AIFFFile) readers["AIFF"] = AIFFJson(*f.AIFFFile);
  return {{"path", path},
          {"kind", AudioFileKindName(f.FileKind)},
          {"kind_code", static_cast<int>(f.FileKind)},
          {"estimated_sectors", f.EstimatedLength},
          {"length_sectors", measured ? json(f.LengthSectors) : json(nullptr)},
          {"length_counted", measured ? json(f.LengthCounted) : json(nullptr)},
          {"channels", r.Channels},
          {"sample_rate", r.SampleRate},
          {"bits", r.Bits},
          {"bitrate_kbps", r.BitRateKbps},
          {"tags",
           {{"title", r.Tags.Title},
            {"artist", r.Tags.Artist},
            {"album", r.Tags.Album},
            {"track", r.Tags.Track},
            {"year", r.Tags.Year},
            {"genre", r.Tags.Genre},
            {"comment", r.Tags.Comment}}},
          {"readers", readers}};
}

std::string TextLine(const std::string& path, const TAudioFile& f, bool measured) {
  const TProbeResult r = Summarise(f);
  std::string line = path + "\t" + AudioFileKindName(f.FileKind) + "\t" + MSFText(f.EstimatedLength) + "\t" +
                     std::to_string(r.Channels) + " ch\t" + std::to_string(r.SampleRate) + " Hz\t" +
                     std::to_string(r.BitRateKbps) + " kbit/s\t" + r.Tags.Title + "\t" + r.Tags.Artist;
  if (measured) line += "\tlength " + MSFText(f.LengthSectors) + " (" + std::to_string(f.LengthSectors) + " sectors)";
  return line;
}

// Where a track named by a list comes from, and its part of the file.
json ListJson(const TListTrack& t) {
  return {{"file", t.ListFile},
          {"line", t.ListLine},
          {"track", t.CueTrack},
          {"title", t.Title},
          {"performer", t.Performer},
          {"start_sample", t.StartSample},
          {"end_sample", t.EndSample < 0 ? json(nullptr) : json(t.EndSample)}};
}

// The length of a track's part of a file that measures fileSamples.
uint32_t RangeSectors(const TListTrack& t, uint64_t fileSamples) {
  const auto total = static_cast<int64_t>(std::min<uint64_t>(fileSamples, uint64_t{1} << 50));
  const int64_t end = t.EndSample < 0 ? total : std::min(total, t.EndSample);
  return static_cast<uint32_t>(SamplesToSectors(end - t.StartSample));
}

int Probe(const std::vector<std::string>& files, bool asJson, bool measure) {
  json out = json::array();
  bool failed = false;
  auto report = [&](const std::string& path, const std::string& problem) {
    failed = true;
    if (asJson) {
      out.push_back({{"path", path}, {"kind", "none"}, {"kind_code", 0}, {"error", problem}});
    } else {
      std::cout.flush();
      cli::Fail(path + ": " + problem);
    }
  };
  // Each list is expanded on its own, so that a bad one does not hide the rest.
  std::vector<TListTrack> tracks;
  for (const std::string& path : files) {
    std::vector<TListTrack> expanded;
    TListError error;
    if (!ExpandTrackLists({path}, expanded, error)) {
      failed = true;
      if (asJson) out.push_back({{"path", path}, {"kind", "none"}, {"kind_code", 0}, {"error", error.Text()}});
      else cli::Fail(error.Text());
      continue;
    }
    tracks.insert(tracks.end(), expanded.begin(), expanded.end());
  }
  for (const TListTrack& track : tracks) {
    const std::string& path = track.Path;
    std::unique_ptr<TAudioFile> file;
    try {
      file = std::make_unique<TAudioFile>(path);
    } catch (const std::exception& e) {
      report(path, e.what());
      continue;
    }
    // An unrecognised file measures 0 without a decode attempt.
    bool measured = measure;
    if (measure && file->FileKind != afNone) {
      try {
        const uint32_t estimate = file->EstimatedLength;  // CalcLength clears it
        file->CalcLength();
        file->EstimatedLength = estimate;
      } catch (const std::exception& e) {
        measured = false;
        failed = true;
        if (!asJson) cli::Fail(path + ": " + e.what());
      }
    }
    const uint32_t fileSectors = file->LengthSectors;
    std::string outside;
    if (measured && track.IsRange() && file->FileKind != afNone) {
      file->LengthSectors = RangeSectors(track, file->LengthSamples);
      const auto samples = static_cast<int64_t>(std::min<uint64_t>(file->LengthSamples, uint64_t{1} << 50));
      if (track.StartSample >= samples || track.EndSample > samples) {
        outside = track.ListFile + " line " + std::to_string(track.ListLine) + ": track " +
                  std::to_string(track.CueTrack) + " lies beyond the end of the file";
        failed = true;
        if (!asJson) cli::Fail(outside);
      }
    }
    if (asJson) {
      json entry = FileJson(path, *file, measured);
      if (!track.ListFile.empty()) entry["list"] = ListJson(track);
      if (track.IsRange()) entry["file_length_sectors"] = measured ? json(fileSectors) : json(nullptr);
      if (!outside.empty()) entry["error"] = outside;
      out.push_back(std::move(entry));
    } else {
      std::string line = TextLine(path, *file, measured);
      if (track.CueTrack > 0)
        line += "\ttrack " + std::to_string(track.CueTrack) + " of " + track.ListFile + " \"" + track.Title + "\"";
      std::cout << line << '\n';
    }
  }
  if (asJson) std::cout << out.dump(2, ' ', false, json::error_handler_t::replace) << '\n';
  if (failed) {
    if (asJson) return cli::Fail("some files could not be opened");
    return cli::kExitError;
  }
  return cli::kExitOk;
}

cli::Registrar reg{{"probe", "Identify audio files: kind, estimated length, format and tags", 20,
                    [](CLI::App& sub) -> cli::Runner {
                      auto json = std::make_shared<bool>(false);
                      auto noMeasure = std::make_shared<bool>(false);
                      auto files = std::make_shared<std::vector<std::string>>();
                      sub.add_flag("--json", *json, "Print a JSON array with every reader's fields");
                      sub.add_flag("--no-measure", *noMeasure,
                                   "Skip the full decode that measures length_sectors");
                      sub.add_option("FILE", *files, "Audio files, playlists (.m3u, .m3u8, .pls) or cue sheets (.cue)")
                          ->required();
                      return [json, noMeasure, files] { return Probe(*files, *json, !*noMeasure); };
                    }}};

}  // namespace
