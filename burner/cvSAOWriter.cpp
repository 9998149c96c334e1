#include "burner/cvSAOWriter.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <span>

#include "burner/cvAudCache.h"
#include "burner/cvAudWriter.h"
#include "burner/cvCueSheet.h"
#include "burner/cvDriveWait.h"
#include "burner/cvThreadLayer.h"
#include "burner/cvTrackSource.h"
#include "burner/cvTrackTags.h"
#include "device/cvIOError.h"
#include "device/cvSCSILib.h"

namespace cv {

namespace {

constexpr std::uint8_t kWritePage = 0x05;
constexpr std::uint16_t kModeSenseLength = 512;
constexpr std::int32_t kBlockSectors = CacheBlockSize / kSectorBytes;  // 27
constexpr std::int32_t kLeadInBlocksPerWrite = 256;
constexpr std::int64_t kBytesPerSample = 4;
constexpr std::uint8_t kSenseIllegalRequest = 0x05;
constexpr std::uint8_t kAscInvalidField = 0x26;
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr int kMaxEmptyBlocks = 1 << 20;  // a decoder answering nothing that often is broken

std::uint8_t SenseKey(const TSCSIDevice& device) { return device.Sense[2] & 0x0F; }

}  // namespace

// --- Measuring and laying out -----------------------------------------------

std::int64_t MeasureSamples(const TAudioFilesToBurn& Track) {
  TTrackDecoder decoder(Track.FileName);
  if (decoder.FileKind() == 0) return 0;
  decoder.SetRange(Track.StartSample, Track.EndSample);
  return decoder.MeasureSamples();
}

std::int32_t LayOutTracks(const TAudioFiles& Files, const TSAOOptions& Options, TDiscLayout& Layout) {
  std::vector<TLayoutInput> inputs;
  TLayoutOptions options;
  options.Mcn = Options.Mcn;
  options.CDText = Options.CDText;
  for (std::int32_t i = 0; i < Files.TrackCount; ++i) {
    const TAudioFilesToBurn& track = Files.Tracks[static_cast<std::size_t>(i)];
    TLayoutInput input;
    try {
      input.Samples = MeasureSamples(track);
    } catch (const EInOutError&) {
      return beCantOpenFile;
    } catch (const std::exception&) {
      return beDataNotPrepared;
    }
    if (input.Samples <= 0) return beTrackEmpty;
    input.PauseSectors = i == 0 ? 0 : track.PauseSectors;
    const TTrackTags tags = ReadTrackTags(track.FileName, track.FileKind);
    input.Title = tags.Title;
    input.Performer = tags.Artist;
    input.Songwriter = tags.Composer;
    input.Isrc = tags.Isrc;
    if (i == 0) {
      options.AlbumTitle = tags.Album;
      options.AlbumPerformer = tags.AlbumArtist.empty() ? tags.Artist : tags.AlbumArtist;
    }
    inputs.push_back(std::move(input));
  }
  if (inputs.empty()) return beNoTracks;
  Layout = LayOutDisc(inputs, options);
  return beNone;
}

// --- Drive set-up ------------------------------------------------------------

bool SetSessionWriteParameters(TSCSIDevice& Device, bool TestWrite, std::uint8_t DataBlockType) {
  std::span<std::uint8_t> reply(Device.Buffer.data(), kModeSenseLength);
  std::fill(reply.begin(), reply.end(), 0);
  if (!Device.ModeSense10(reply, kModeSenseLength, kWritePage, false)) return false;
  const std::size_t offset = (reply[8] & 0x3F) == kWritePage ? 8 : 16;
  if ((reply[offset] & 0x3F) != kWritePage) return false;
  const std::uint8_t pageLength = reply[offset + 1];
  if (pageLength < 14 || offset + 2 + pageLength > reply.size()) return false;

  std::uint8_t* page = reply.data() + offset;
  page[0] = kWritePage;  // PS bit cleared
  page[2] = static_cast<std::uint8_t>(0x40 | (TestWrite ? 0x10 : 0x00) | 0x02);  // BUFE, test write, SAO
  page[3] = 0x00;  // no next session (the disc is closed); no FP, no copy; track mode 0
  page[4] = DataBlockType;
  page[8] = 0x00;  // session format CD-DA
  page[14] = 0x00;  // audio pause length 150 (not used in SAO: the cue sheet says)
  page[15] = 0x96;
  const auto length = static_cast<std::uint16_t>(offset + pageLength + 2);
  reply[0] = reply[1] = 0;  // mode data length is reserved in MODE SELECT
  return Device.ModeSelect10(reply.first(length), length);
}

std::int32_t ReadLeadInStart(TSCSIDevice& Device) {
  auto lba = [](std::uint8_t m, std::uint8_t s, std::uint8_t f) {
    return (static_cast<std::int32_t>(m) * 60 + s) * 75 + f - 450150;
  };
  // Lead-in starts lie in the last minutes before 100:00:00 (LBA -150 and
  // below); anything else is not one.
  auto plausible = [](std::int32_t v) { return v < -150 && v > -45000; };
  std::array<std::uint8_t, 34> info{};
  if (Device.ReadDiscInformation(info, static_cast<std::uint8_t>(info.size()))) {
    const std::int32_t v = lba(info[17], info[18], info[19]);
    if (info[17] >= 90 && plausible(v)) return v;
  }
  std::array<std::uint8_t, 28> atip{};
  if (Device.ReadTOC(0x04, 0, false, atip, static_cast<std::uint8_t>(atip.size()))) {
    const std::int32_t v = lba(atip[8], atip[9], atip[10]);
    if (atip[8] >= 90 && plausible(v)) return v;
  }
  return 0;
}

std::int32_t SendCueSheetLadder(TSCSIDevice& Device, const TDiscLayout& Layout, bool& CDText,
                                std::int32_t LeadInStart, std::vector<std::string>& Notes) {
  const std::vector<TCueSheetVariant> variants = CueSheetVariants(Layout);
  for (const bool withText : {true, false}) {
    if (withText && !CDText) continue;
    for (const TCueSheetVariant& variant : variants) {
      if (variant.LeadInAtStart && LeadInStart == 0) continue;
      const std::vector<std::uint8_t> sheet = BuildCueSheet(Layout, withText, LeadInStart, variant);
      if (Device.SendCueSheet(sheet)) {
        if (CDText && !withText) Notes.push_back("the drive refused the CD-TEXT lead-in: the disc has no CD-TEXT");
        CDText = withText;
        return beNone;
      }
      // Only a field the drive does not take is worth another form.
      if (SenseKey(Device) == kSenseIllegalRequest && Device.Sense[12] == kAscInvalidOpcode) return beSAOUnsupported;
      if (SenseKey(Device) != kSenseIllegalRequest || Device.Sense[12] != kAscInvalidField) return beCueSheetRefused;
    }
  }
  return beCueSheetRefused;
}

// --- The feed ----------------------------------------------------------------

TSAOFeed::TSAOFeed(const TAudioFiles& Files, const TDiscLayout& Layout, std::size_t CapacityBlocks)
    : Files_(Files), Layout_(Layout), Capacity_(std::max<std::size_t>(CapacityBlocks, 2)) {
  Thread_ = std::jthread([this](std::stop_token stop) {
    SetCurrentThreadPriority(tpNormal);
    Run(stop);
    {
      std::lock_guard lock(Mutex_);
      Done_ = true;
    }
    Primed_ = true;
    Changed_.notify_all();
  });
}

TSAOFeed::~TSAOFeed() {
  Thread_.request_stop();
  Changed_.notify_all();
  if (Thread_.joinable()) Thread_.join();
}

bool TSAOFeed::Push(std::vector<std::uint8_t>& block, std::stop_token& stop) {
  std::unique_lock lock(Mutex_);
  while (Queue_.size() >= Capacity_) {
    Primed_ = true;
    if (stop.stop_requested()) return false;
    Changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  Queue_.push_back(TBlock{std::move(block)});
  lock.unlock();
  Changed_.notify_all();
  block.clear();
  block.reserve(static_cast<std::size_t>(CacheBlockSize));
  return true;
}

bool TSAOFeed::Take(TBlock& Block, std::stop_token Stop) {
  std::unique_lock lock(Mutex_);
  while (Queue_.empty()) {
    if (Done_ || Stop.stop_requested()) return false;
    Changed_.wait_for(lock, std::chrono::milliseconds(50));
  }
  Block = std::move(Queue_.front());
  Queue_.pop_front();
  lock.unlock();
  Changed_.notify_all();
  return true;
}

void TSAOFeed::Run(std::stop_token stop) {
  std::vector<std::uint8_t> block;
  block.reserve(static_cast<std::size_t>(CacheBlockSize));
  // Appends count bytes (nullptr: silence), queueing every full block.
  auto append = [&](const std::uint8_t* data, std::int64_t count) {
    while (count > 0) {
      const std::int64_t room = CacheBlockSize - static_cast<std::int64_t>(block.size());
      const std::int64_t part = std::min(room, count);
      if (data != nullptr) {
        block.insert(block.end(), data, data + part);
        data += part;
      } else {
        block.insert(block.end(), static_cast<std::size_t>(part), 0);
      }
      count -= part;
      if (static_cast<std::int64_t>(block.size()) == CacheBlockSize && !Push(block, stop)) return false;
    }
    return true;
  };
  auto fail = [&](std::int32_t code) {
    Error_ = code;
    Failed_ = true;
  };

  for (const TLayoutSegment& segment : Layout_.Segments) {
    const std::int64_t target = segment.Samples * kBytesPerSample;
    if (segment.Kind == TLayoutSegment::Silence) {
      if (!append(nullptr, target)) return;
      continue;
    }
    const TAudioFilesToBurn& track = Files_.Tracks[static_cast<std::size_t>(segment.Track)];
    std::int64_t stored = 0;
    try {
      TTrackDecoder decoder(track.FileName);
      if (decoder.FileKind() == 0) return fail(beDataNotPrepared);
      decoder.SetRange(track.StartSample, track.EndSample);
      if (!decoder.PrepareDecoding()) return fail(beDataNotPrepared);
      int empty = 0;
      for (;;) {
        const std::int32_t result = decoder.DecodeBlock();
        const std::int32_t length = std::max<std::int32_t>(0, decoder.OutputLength());
        // Audio beyond the measured length is cut.
        const std::int64_t take = std::min<std::int64_t>(length, target - stored);
        if (take > 0 && !append(decoder.OutputBuffer(), take)) return;
        stored += std::max<std::int64_t>(take, 0);
        if (result == -1 || stored >= target) break;
        empty = length > 0 ? 0 : empty + 1;
        if (empty > kMaxEmptyBlocks) return fail(beDataNotPrepared);
        if (stop.stop_requested()) return;
      }
    } catch (const EInOutError&) {
      return fail(beCantOpenFile);
    } catch (const std::exception&) {
      return fail(beDataNotPrepared);
    }
    // The file now decodes shorter than measured: silence in its place, and
    // the burn says so.
    if (stored < target) {
      Error_ = beTrackShort;
      if (!append(nullptr, target - stored)) return;
    }
  }
  if (!block.empty()) Push(block, stop);
}

// --- The writer --------------------------------------------------------------

TSAOWriteThread::TSAOWriteThread(TAudioFiles& Files, TSCSIDevice& Device, const TBurnerHooks& Hooks,
                                 TDiscLayout Layout, bool CDText, std::int32_t LeadInStart, bool TestWrite,
                                 std::unique_ptr<TSAOFeed> Feed)
    : Files_(Files),
      Device_(Device),
      Hooks_(Hooks),
      Layout_(std::move(Layout)),
      CDText_(CDText),
      LeadInStart_(LeadInStart),
      TestWrite_(TestWrite),
      Feed_(std::move(Feed)) {
  Thread_ = std::jthread([this](std::stop_token stop) {
    SetCurrentThreadPriority(tpBelowNormal);
    Execute(stop);
    Ended_ = true;
  });
}

TSAOWriteThread::~TSAOWriteThread() {
  Thread_.request_stop();
  Join();
}

void TSAOWriteThread::Join() {
  if (Thread_.joinable()) Thread_.join();
}

bool TSAOWriteThread::Write(std::int32_t lba, std::int32_t blocks, const std::uint8_t* data, std::size_t bytes,
                            std::stop_token& stop) {
  const std::span<const std::uint8_t> span(data, bytes);
  for (int attempt = 1;; ++attempt) {
    if (Device_.WriteSectors(static_cast<std::uint32_t>(lba), static_cast<std::uint16_t>(blocks), span,
                             static_cast<std::uint32_t>(bytes)))
      return true;
    // Busy or not ready (the drive's buffer is full): the same blocks again.
    const bool retry = Device_.Busy || Device_.Sense[12] == kAscNotReady;
    if (!retry || attempt >= Hooks_.Timings.WriteAttempts || !SleepFor(stop, Hooks_.Timings.WriteRetry)) {
      if (Device_.Sense[12] != 0) FailedSense_ = static_cast<std::uint16_t>(Device_.Sense[12] << 8 | Device_.Sense[13]);
      return false;
    }
  }
}

bool TSAOWriteThread::WriteLeadIn(std::stop_token& stop) {
  const std::span<const TCDTextPack> packs(Layout_.CDText.Packs);
  std::vector<std::uint8_t> data;
  for (std::int32_t lba = LeadInStart_; lba < -kFirstPregapSectors;) {
    if (stop.stop_requested()) return false;
    const std::int32_t blocks = std::min(kLeadInBlocksPerWrite, -kFirstPregapSectors - lba);
    data.clear();
    for (std::int32_t b = 0; b < blocks; ++b) {
      const auto block = CDTextLeadInBlock(packs, static_cast<std::size_t>(lba + b - LeadInStart_));
      data.insert(data.end(), block.begin(), block.end());
    }
    if (!Write(lba, blocks, data.data(), data.size(), stop)) return false;
    lba += blocks;
  }
  return true;
}

bool TSAOWriteThread::WriteProgram(std::stop_token& stop) {
  std::int32_t lba = -kFirstPregapSectors;
  const std::int32_t end = Layout_.LeadOut;
  TSAOFeed::TBlock block;
  std::vector<std::uint8_t> silence;
  while (lba < end) {
    if (stop.stop_requested()) return false;
    const std::uint8_t* data = nullptr;
    std::int32_t sectors = 0;
    if (!Feed_->Failed() && Feed_->Take(block, stop)) {
      data = block.Data.data();
      sectors = static_cast<std::int32_t>(block.Data.size() / kSectorBytes);
    } else if (stop.stop_requested()) {
      return false;
    } else {
      // The audio could not be decoded: the rest of the announced layout is
      // written as silence so that the drive can close the disc.
      sectors = std::min(kBlockSectors, end - lba);
      silence.assign(static_cast<std::size_t>(sectors) * kSectorBytes, 0);
      data = silence.data();
    }
    sectors = std::min(sectors, end - lba);
    if (sectors <= 0) break;
    for (const TLaidTrack& track : Layout_.Tracks)
      if (track.Index00 <= lba && lba < track.End) Files_.CurrentTrack = track.Number;
    if (!Write(lba, sectors, data, static_cast<std::size_t>(sectors) * kSectorBytes, stop)) return false;
    lba += sectors;
    Files_.SectorsWritten.fetch_add(sectors);
  }
  return lba == end;
}

bool TSAOWriteThread::Close(std::stop_token& stop) {
  // The last block announced: SYNCHRONIZE CACHE closes the session; no
  // CLOSE TRACK/SESSION in Session-At-Once.
  bool ok = Device_.SynchronizeCache(false);
  {
    TDriveWait wait(Hooks_.Timings, stop);
    for (;;) {
      const bool ready = Device_.TestUnitReady();
      if (!NotReady(Device_, ready)) break;
      if (!wait.Nap()) {
        ok = false;
        break;
      }
    }
  }
  if (!ok) return false;
  // The disc as the drive now reports it: complete, or (a test write) as
  // blank as before.
  std::array<std::uint8_t, 34> info{};
  if (!Device_.ReadDiscInformation(info, static_cast<std::uint8_t>(info.size()))) return false;
  const std::uint8_t status = info[2] & 0x03;
  return TestWrite_ ? status == 0x00 : status == 0x02;
}

void TSAOWriteThread::Execute(std::stop_token stop) {
  Files_.SetStatus(bsWriting);
  Files_.CurrentTrack = 1;
  bool failed = false;
  bool wrote = !CDText_ || WriteLeadIn(stop);
  if (wrote) wrote = WriteProgram(stop);
  failed = !wrote;
  if (Feed_->Failed()) {
    failed = true;
    Files_.RaiseError(Feed_->Error());
  } else if (Feed_->Error() != beNone) {
    Files_.RaiseError(Feed_->Error());
  }
  Files_.SetStatus(failed ? bsBurnError : bsClosingSession);
  // A write the drive refused leaves the disc as it is; otherwise (all
  // blocks sent, or the audio replaced by silence) the session is closed.
  if (wrote && !stop.stop_requested()) {
    if (!Close(stop)) {
      failed = true;
      if (!Files_.ErrorRaised.load()) Files_.RaiseError(beSessionNotClosed);
    }
  } else {
    Device_.SynchronizeCache(false);
  }
  if (FailedSense_ != 0) {
    Device_.LastSenseCode = FailedSense_;
  } else if (failed && !Files_.ErrorRaised.load()) {
    Files_.RaiseError(beWriteFailed);
  }
  Feed_.reset();
  Files_.WithError = failed || Files_.ErrorRaised.load();
  RunDispatched(Hooks_, [this] { FireWriteDone(Files_); }, stop);
  if (Hooks_.Beep) Hooks_.Beep();
  Files_.SetStatus(bsIdle);
  Files_.Running = false;
}

// --- The burn ----------------------------------------------------------------

namespace {

// GET CONFIGURATION feature 002Eh (CD Mastering): byte 4 of the
// descriptor, bit 5 SAO, bit 0 R-W sub-channel. -1 when the drive does not
// report the feature.
int MasteringFlags(TSCSIDevice& Device) {
  std::array<std::uint8_t, 16> reply{};
  if (!Device.GetConfiguration(reply, static_cast<std::uint16_t>(reply.size()), 0x002E)) return -1;
  const std::uint32_t length = ReadBE32(reply, 0);
  if (length < 4 + 8 || ReadBE16(reply, 8) != 0x002E) return -1;
  return reply[12];
}

}  // namespace

bool StartSAOBurn(TAudioFiles& Files, TSCSIDevice& Device, TKAudioCDBurner* Sender, TWriteDoneEvent Handler,
                  const TBurnerHooks& Hooks, const TSAOOptions& Options, std::vector<std::string>& Notes) {
  StopWorkers(Files);
  ResetBurnState(Files);
  Files.StatusObserver = Hooks.StatusObserver;
  Files.Running = true;
  Files.SetStatus(bsPreparing);
  Notes.clear();
  std::unique_ptr<TSAOFeed> feed;
  auto refuse = [&](std::int32_t code) {
    feed.reset();
    if (code != beNone) Files.RaiseError(code);
    Files.SetStatus(bsIdle);
    Files.Running = false;
    return false;
  };

  if (const std::int32_t code = PreflightBurn(Files, Device); code != beNone) return refuse(code);
  // A Session-At-Once disc is written whole: only onto a blank one.
  if ((Device.DiscInfo[2] & 0x03) != 0x00) return refuse(beSAONeedsBlankDisc);
  Device.LastSenseCode = 0;
  Device.MediumType = Device.GetMediumType();

  TDiscLayout layout;
  if (const std::int32_t code = LayOutTracks(Files, Options, layout); code != beNone) return refuse(code);
  Notes = layout.Notes;
  const std::int32_t free = GetFreeSpace(Device);
  if (free >= 0 && layout.ProgramSectors() - kFirstPregapSectors > free) return refuse(beNotEnoughSpace);

  bool cdText = !layout.CDText.Packs.empty();
  const int mastering = MasteringFlags(Device);
  if (mastering >= 0 && (mastering & 0x20) == 0) return refuse(beSAOUnsupported);
  if (cdText && mastering >= 0 && (mastering & 0x01) == 0) {
    Notes.push_back("the drive cannot write CD-TEXT: the disc has none");
    cdText = false;
  }
  const std::int32_t leadInStart = ReadLeadInStart(Device);
  if (cdText && leadInStart == 0) {
    Notes.push_back("the disc does not report where its lead-in starts: no CD-TEXT");
    cdText = false;
  }

  // The feed primes before the drive is told the layout.
  if (Files.CacheSize < kMinCacheSize) SetCacheSize(Files, Files.CacheSize);
  feed = std::make_unique<TSAOFeed>(Files, layout, static_cast<std::size_t>(Files.CacheSize / CacheBlockSize));
  const auto deadline = std::chrono::steady_clock::now() + Hooks.Timings.PrimeDeadline;
  while (!feed->Primed()) {
    if (std::chrono::steady_clock::now() >= deadline) return refuse(beDataNotPrepared);
    std::this_thread::sleep_for(Hooks.Timings.PrimePoll);
  }
  if (feed->Failed()) return refuse(feed->Error());

  Device.SetCDSpeed(Device.ReadSpeed, Device.WriteSpeed);
  if (!SetSessionWriteParameters(Device, Options.TestWrite, 0x00)) {
    // Some drives want the raw P-W block type with CD-TEXT.
    if (!cdText || !SetSessionWriteParameters(Device, Options.TestWrite, 0x03)) return refuse(beSAOUnsupported);
  }
  if (const std::int32_t code = SendCueSheetLadder(Device, layout, cdText, leadInStart, Notes); code != beNone)
    return refuse(code);

  Files.TotalSectors = layout.ProgramSectors();
  Files.OnWriteDone = std::move(Handler);
  Files.Sender = Sender;
  Files.AbortRequested = false;
  Files.SAOBurn = std::make_unique<TSAOBurn>();
  Files.SAOBurn->Writer = std::make_unique<TSAOWriteThread>(Files, Device, Hooks, std::move(layout), cdText,
                                                             leadInStart, Options.TestWrite, std::move(feed));
  return true;
}

}  // namespace cv
