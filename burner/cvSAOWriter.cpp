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
#include "device/cvSense.h"
#include "device/cvIOError.h"
#include "device/cvSCSILib.h"

namespace cv {

namespace {

constexpr std::int32_t kBlockSectors = CacheBlockSize / kSectorBytes;  // 27
constexpr std::int32_t kLeadInBlocksPerWrite = 256;
constexpr std::int64_t kBytesPerSample = 4;
constexpr std::uint8_t kAscInvalidField = 0x26;
constexpr std::uint8_t kAscInvalidOpcode = 0x20;
constexpr int kMaxEmptyBlocks = 1 << 20;  // a decoder answering nothing that often is broken

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

TWritePage SessionWritePage(bool TestWrite, std::uint8_t DataBlockType) {
  TWritePage page;
  page.WriteType = wtSessionAtOnce;
  page.TestWrite = TestWrite;
  page.MultiSession = msNone;  // the disc is closed
  page.DataBlockType = DataBlockType;
  page.AudioPauseLength = 150;  // not used: the cue sheet lays out the pauses
  return page;
}

bool SetSessionWriteParameters(TSCSIDevice& Device, bool TestWrite, std::uint8_t DataBlockType) {
  return SetTrackWriteParameters(Device, SessionWritePage(TestWrite, DataBlockType));
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
      const TSense sense = DecodeSense(Device.Sense);
      if (sense.Key == kSenseIllegalRequest && sense.Asc == kAscInvalidOpcode) return beSAOUnsupported;
      if (sense.Key != kSenseIllegalRequest || sense.Asc != kAscInvalidField) return beCueSheetRefused;
    }
  }
  return beCueSheetRefused;
}

// --- The feed ----------------------------------------------------------------

TSAOFeed::TSAOFeed(const TAudioFiles& Files, const TDiscLayout& Layout, std::size_t CapacityBlocks)
    : Files_(Files), Layout_(Layout), Capacity_(std::max<std::size_t>(CapacityBlocks, 2)) {
  Thread_ = std::jthread([this](std::stop_token stop) {
    MoveCurrentThreadToDecodeCore();
    SetCurrentThreadPriority(tpBelowNormal);
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
  // A real drive is waited for with the periods it is built around; an
  // emulated one at the pace of its emulation.
  Hooks_.Timings = PacedTimings(Hooks.Timings, Device.DrivePace());
  Thread_ = StartWritingThread([this](std::stop_token stop) { Execute(stop); }, Ended_);
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
  if (WriteSectorsRetried(Device_, static_cast<std::uint32_t>(lba), std::span<const std::uint8_t>(data, bytes),
                          Hooks_.Timings, stop, static_cast<std::uint16_t>(blocks)))
    return true;
  FailedSense_ = DecodeSense(Device_.Sense);
  return false;
}

bool TSAOWriteThread::Stopping(std::stop_token& stop) {
  if (Files_.CancelRequested.load()) Cancelled_ = true;
  return Cancelled_ || stop.stop_requested();
}

bool TSAOWriteThread::WriteLeadIn(std::stop_token& stop) {
  const std::span<const TCDTextPack> packs(Layout_.CDText.Packs);
  std::vector<std::uint8_t> data;
  for (std::int32_t lba = LeadInStart_; lba < -kFirstPregapSectors;) {
    if (Stopping(stop)) return false;
    const std::int32_t blocks = std::min(kLeadInBlocksPerWrite, -kFirstPregapSectors - lba);
    data.clear();
    for (std::int32_t b = 0; b < blocks; ++b) {
      const auto block = CDTextLeadInBlock(packs, static_cast<std::size_t>(lba + b - LeadInStart_));
      data.insert(data.end(), block.begin(), block.end());
    }
    if (!Write(lba, blocks, data.data(), data.size(), stop)) return false;
    lba += blocks;
    LeadInWritten_ += blocks;
  }
  return true;
}

bool TSAOWriteThread::WriteProgram(std::stop_token& stop) {
  std::int32_t lba = -kFirstPregapSectors;
  const std::int32_t end = Layout_.LeadOut;
  TSAOFeed::TBlock block;
  std::vector<std::uint8_t> silence;
  int countdown = 2;
  while (lba < end) {
    if (Stopping(stop)) return false;
    SleepFor(stop, Hooks_.Timings.BlockPause);
    const std::uint8_t* data = nullptr;
    std::int32_t sectors = 0;
    if (!Feed_->Failed() && Feed_->Take(block, stop)) {
      data = block.Data.data();
      sectors = static_cast<std::int32_t>(block.Data.size() / kSectorBytes);
    } else if (Stopping(stop)) {
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
    if (--countdown < 0) {
      Device_.ReadBufferCapacity();
      Files_.BufferLength = Device_.BufferLength;
      Files_.BufferFree = Device_.BufferFree;
      countdown = 5;
    }
  }
  return lba == end;
}

std::int32_t TSAOWriteThread::Close(std::stop_token& stop, TSense& refused) {
  std::int32_t error = beNone;
  auto note = [&](TPollEnd end) {
    if (end == TPollEnd::Done || error != beNone) return;
    error = end == TPollEnd::Deadline ? beDriveTimeout : beDiscNotClosed;
    refused = DecodeSense(Device_.Sense);
  };
  // The last block announced: SYNCHRONIZE CACHE closes the session (no
  // CLOSE TRACK/SESSION in Session-At-Once). A drive still busy with the
  // data is asked again.
  note(PollDrive(Hooks_.Timings, stop, false,
                 [&] { return PollAnswerOf(Device_, Device_.SynchronizeCache(false)); }));
  const std::span<std::uint8_t> info(Device_.Buffer.data(), 42);
  note(PollDrive(Hooks_.Timings, stop, true, [&] { return PollAnswerOf(Device_, Device_.ReadDiscInformation(info, 42)); }));
  note(PollDrive(Hooks_.Timings, stop, false, [&] { return PollAnswerOf(Device_, Device_.TestUnitReady()); }));
  return error;
}

std::string SAODiscStateText(const TDiscCheck& Check, bool TestWrite, bool Blank, std::int32_t LeadInWritten,
                             std::int32_t SectorsWritten, const TDiscLayout& Layout) {
  if (!Check.Read) return "the disc's state could not be read back from the drive";
  if (TestWrite) {
    return Blank ? "simulated burn, nothing was written: the disc is as it was"
                 : "simulated burn, but the disc is no longer blank: the drive wrote to it";
  }
  if (LeadInWritten == 0 && SectorsWritten == 0)
    return Blank ? "nothing was written: the disc is as it was" : "nothing was written, but the disc is not blank";
  if (Check.Complete && !Check.SessionOpen && !Check.TrackDamaged) {
    const std::size_t tracks = Layout.Tracks.size();
    return "the session is closed with " + std::to_string(tracks) + (tracks == 1 ? " track" : " tracks") + " (" +
           SectorsToMSFText(static_cast<std::uint32_t>(std::max(Layout.LeadOut, 0))) +
           "): the disc plays and is complete";
  }
  return "Session-At-Once writing stopped after " + std::to_string(SectorsWritten) + " of " +
         std::to_string(Layout.ProgramSectors()) +
         " sectors: the session cannot be closed and the disc does not play; erase a CD-RW, a CD-R is lost";
}

void TSAOWriteThread::Execute(std::stop_token stop) {
  Files_.SetStatus(bsWriting);
  Files_.CurrentTrack = 1;
  Files_.SectorsWritten = 0;
  Device_.BufferFree = 0;
  Device_.BufferLength = 0;
  Device_.CloseAfterCommand = false;

  bool wrote = !CDText_ || WriteLeadIn(stop);
  if (wrote) wrote = WriteProgram(stop);
  // From here the close must finish: a cancel is refused.
  Files_.ClosingOut = true;
  bool failed = !wrote;
  if (Feed_->Failed()) {
    failed = true;
    Files_.RaiseError(Feed_->Error());
  } else if (Feed_->Error() != beNone) {
    Files_.RaiseError(Feed_->Error());  // a track decoded short: silence in its place
  }
  if (Cancelled_) Files_.RaiseError(beAbortedByUser);
  Feed_->RequestStop();
  Files_.SetStatus(!failed ? bsClosingSession : Cancelled_ ? bsAborting : bsBurnError);

  // Every announced block sent (the audio, or silence for audio that could
  // not be decoded): the session is closed. A write the drive refused, or a
  // cancel, leaves a session that cannot be closed; what was sent is
  // flushed.
  TSense refused;
  std::int32_t closeError = beNone;
  if (wrote) {
    closeError = Close(stop, refused);
  } else {
    SleepFor(stop, Hooks_.Timings.FailurePause);
    Device_.SynchronizeCache(false);
  }
  Device_.AllowMediumRemoval();
  const TDiscCheck check = CheckDisc(Device_);
  const bool blank = check.Read && (Device_.DiscInfo[2] & 0x03) == 0x00;
  Files_.SetDiscState(
      SAODiscStateText(check, TestWrite_, blank, LeadInWritten_, Files_.SectorsWritten.load(), Layout_));
  // Verified: a real write leaves a complete disc with no open session; a
  // test write leaves the disc blank.
  const bool closed =
      check.Read && (TestWrite_ ? blank : check.Complete && !check.SessionOpen && !check.TrackDamaged);

  // The error text names the failed write's sense, not a side effect of the
  // close; without a failure of its own, a close that did not hold is the
  // burn's error.
  if (FailedSense_.Asc != 0) {
    Device_.LastSenseCode = FailedSense_.Code();
    Device_.LastSenseKey = FailedSense_.Key;
  } else if (failed && !Files_.ErrorRaised.load()) {
    Files_.RaiseError(beWriteFailed);
  }
  if (!failed && !Files_.ErrorRaised.load()) {
    if (closeError != beNone) Files_.RaiseError(closeError);
    else if (!closed) Files_.RaiseError(beDiscNotClosed);
    if (Files_.ErrorRaised.load() && refused.Valid) Files_.SetErrorDetail(SenseWords(refused));
  }
  Feed_.reset();
  Files_.WithError = failed || Files_.ErrorRaised.load() || !closed;
  // The drive is free for other programs again.
  Device_.SetExclusive(false);
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

  // Forms refused on the way leave no sense behind for the burn's error text.
  Device.LastSenseCode = 0;
  Device.LastSenseKey = 0;
  Files.TotalSectors = layout.ProgramSectors();
  Files.OnWriteDone = std::move(Handler);
  Files.Sender = Sender;
  // The tray stays shut while the disc is written; the close allows removal
  // again.
  Device.PreventMediumRemoval();
  Files.SAOBurn = std::make_unique<TSAOBurn>();
  Files.SAOBurn->Writer = std::make_unique<TSAOWriteThread>(Files, Device, Hooks, std::move(layout), cdText,
                                                             leadInStart, Options.TestWrite, std::move(feed));
  return true;
}

}  // namespace cv
