#include "vrecorder/cvVirtualSao.h"

#include "vrecorder/cvVirtualState.h"

namespace cv {

std::optional<cvVRSaoWriter> cvVRSaoWriter::Resume(const TVRSaoSession& session, std::int32_t leadInStart) {
  if (!session.Active()) return std::nullopt;
  cvVRSaoWriter writer;
  writer.LeadIn = leadInStart;
  if (VRReadCueSheet(session.CueSheet, {.LeadInStart = leadInStart, .LastLeadOut = INT32_MAX}, writer.Cue))
    return std::nullopt;
  writer.Checker.SetTracks(writer.Cue.Tracks.front().Number, writer.Cue.Tracks.back().Number);
  writer.Checker.Restore(session.Packs, session.PacksReceived);
  return writer;
}

std::optional<TVRSaoRefusal> cvVRSaoWriter::Write(TVRSaoSession& s, std::int32_t lba, std::uint32_t count,
                                                   std::span<const std::uint8_t> data) {
  auto refuse = [](std::uint8_t key, std::uint8_t asc, std::uint8_t ascq, std::string why) {
    return std::optional<TVRSaoRefusal>(TVRSaoRefusal{key, asc, ascq, std::move(why)});
  };
  if (s.Damaged) return refuse(3, 0x0C, 0x09, "the drive's buffer ran empty during this session (no BUFE)");
  if (lba != s.Next)
    return refuse(5, 0x21, 0x02,
                  "WRITE at " + std::to_string(lba) + ", the layout goes on at " + std::to_string(s.Next));
  if (count == 0) return std::nullopt;
  const std::int64_t end = std::int64_t{lba} + count;
  if (end > Cue.LeadOut)
    return refuse(5, 0x21, 0x00,
                  "WRITE up to " + std::to_string(end) + " goes beyond the lead-out at " + std::to_string(Cue.LeadOut));
  if (lba < -150 && end > -150)
    return refuse(5, 0x24, 0x00, "a WRITE crosses from the lead-in into the program area at -150");
  const std::size_t bytes = std::size_t{count} * BlockBytes(lba);
  if (data.size() != bytes)
    return refuse(5, 0x24, 0x00,
                  std::to_string(data.size()) + " bytes for " + std::to_string(count) + " blocks of " +
                      std::to_string(BlockBytes(lba)) + " bytes");
  if (lba < -150) {
    cvVRCDTextChecker trial = Checker;
    for (std::uint32_t b = 0; b < count; ++b) {
      for (const TVRPack& pack : VRDecodeLeadInBlock(data.subspan(std::size_t{b} * kVRLeadInBlockBytes, kVRLeadInBlockBytes)))
        if (auto error = trial.Add(pack))
          return refuse(3, 0x0C, 0x00, "CD-TEXT in the lead-in block at " + std::to_string(lba + static_cast<std::int32_t>(b)) + ": " + *error);
    }
    if (end == -150 && !trial.Finished()) {
      if (auto error = trial.Finish(Cue.Tracks.front().Number, Cue.Tracks.back().Number))
        return refuse(3, 0x0C, 0x00, "CD-TEXT of the lead-in: " + *error);
    }
    Checker = std::move(trial);
    if (s.Packs.size() != Checker.Packs().size()) s.Packs = Checker.Packs();
    s.PacksReceived = Checker.Received();
  }
  s.Next = static_cast<std::int32_t>(end);
  return std::nullopt;
}

void cvVRSaoWriter::Close(const TVRSaoSession& s, TVRDisc& disc, bool appendable) const {
  const int session = disc.ClosedSessions() + 1;
  for (const TVRCueTrack& t : Cue.Tracks) {
    TVRTrack track;
    track.Number = t.Number;
    track.Session = session;
    track.Start = t.Start;
    track.Pregap = t.Number == 1 ? t.Start - t.First() : t.Pregap();
    track.Length = t.End - t.Start;
    track.Closed = true;
    track.Control = t.Control;
    track.Isrc = t.Isrc;
    track.Indexes = t.MoreIndexes;
    disc.Tracks.push_back(track);
  }
  disc.SessionLeadOuts.push_back(Cue.LeadOut);
  disc.Complete = !appendable;
  disc.Written = true;
  disc.Mcn = Cue.Mcn;
  disc.CdText = Cue.CdText ? s.Packs : std::vector<TVRPack>{};
}

std::string VRHex(std::span<const std::uint8_t> bytes) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (std::uint8_t b : bytes) {
    text += digits[b >> 4];
    text += digits[b & 0x0F];
  }
  return text;
}

bool VRFromHex(std::string_view text, std::vector<std::uint8_t>& bytes) {
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2) return false;
  bytes.clear();
  bytes.reserve(text.size() / 2);
  for (std::size_t i = 0; i < text.size(); i += 2) {
    const int hi = digit(text[i]), lo = digit(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    bytes.push_back(static_cast<std::uint8_t>(hi * 16 + lo));
  }
  return true;
}

}  // namespace cv
