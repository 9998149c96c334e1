#include "burner/cvBurnRecord.h"

#include <sys/stat.h>

#include <algorithm>

#include "burner/cvAudCache.h"
#include "burner/cvAudWriter.h"
#include "burner/cvSAOWriter.h"
#include "burner/cvTrackSource.h"

namespace cv {

bool ReadFileStamp(const std::string& path, TFileStamp& stamp) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return false;
  stamp.Size = st.st_size;
  stamp.ModifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return true;
}

std::int32_t TrackWriteSectors(const TAudioFilesToBurn& track) {
  if (track.LengthSectors <= 0) return 0;  // refused by Burn's checks
  return std::max(track.LengthSectors, kMinTrackSectors);
}

TAudioFiles::TAudioFiles() : TransferBuffer(static_cast<std::size_t>(kTransferSectors) * kSectorBytes) {}

TAudioFiles::~TAudioFiles() { StopWorkers(*this); }

void TAudioFiles::SetStatus(std::uint8_t status) {
  if (Status.exchange(status) != status && StatusObserver) StatusObserver(status);
}

void TAudioFiles::SetDiscState(std::string text) {
  std::lock_guard lock(OutcomeLock);
  DiscState_ = std::move(text);
}

std::string TAudioFiles::GetDiscState() const {
  std::lock_guard lock(OutcomeLock);
  return DiscState_;
}

void TAudioFiles::SetErrorDetail(std::string text) {
  std::lock_guard lock(OutcomeLock);
  ErrorDetail_ = std::move(text);
}

std::string TAudioFiles::GetErrorDetail() const {
  std::lock_guard lock(OutcomeLock);
  return ErrorDetail_;
}

void TAudioFiles::RaiseError(std::int32_t code) {
  ErrorCode = code;
  if (code != beNone) ErrorRaised = true;
}

void StopWorkers(TAudioFiles& Files) {
  if (Files.SAOBurn) {
    if (Files.SAOBurn->Writer) Files.SAOBurn->Writer->RequestStop();
    Files.SAOBurn.reset();
  }
  // The writer first: it may still be taking blocks from the cache.
  if (Files.WriteThread) {
    Files.WriteThread->RequestStop();
    Files.WriteThread.reset();
  }
  if (Files.CacheThread) {
    Files.CacheThread->RequestStop();
    Files.CacheThread.reset();
  }
}

void ResetBurnState(TAudioFiles& Files) {
  ReleaseCache(Files);
  Files.NewTrack = false;
  Files.CurrentTrack = 0;
  Files.BlockPause = 0;
  Files.ErrorCode = 0;
  Files.ErrorRaised = false;
  Files.WithError = false;
  Files.CacheFailed = false;
  Files.Status = bsIdle;
  Files.SectorsWritten = 0;
  Files.CachePriority = 0;
  Files.BufferLength = 0;
  Files.BufferFree = 0;
  Files.OnWriteDone = nullptr;
  Files.Sender = nullptr;
  Files.CancelRequested = false;
  Files.ClosingOut = false;
  Files.SetDiscState({});
  Files.SetErrorDetail({});
}

bool ClearTracks(TAudioFiles& Files) {
  StopWorkers(Files);
  ResetBurnState(Files);
  Files.Tracks.clear();
  Files.TrackCount = 0;
  Files.TotalSectors = 0;
  Files.CacheSize = 0;
  Files.Running = false;
  std::fill(Files.TransferBuffer.begin(), Files.TransferBuffer.end(), 0);
  return true;
}

TAddTrackResult AddTrack(TAudioFiles& Files, const std::string& FileName, std::int32_t LengthSectors,
                         std::uint16_t PauseSectors, std::int64_t StartSample, std::int64_t EndSample,
                         const TFileStamp* Stamp) {
  if (Files.TrackCount >= kMaxTracks) return TAddTrackResult::ListFull;
  if (StartSample < 0 || (EndSample >= 0 && EndSample <= StartSample)) return TAddTrackResult::BadRange;
  TTrackDecoder decoder(FileName);  // EInOutError when it cannot be opened
  if (decoder.FileKind() == 0) return TAddTrackResult::NotAudio;
  decoder.SetRange(StartSample, EndSample);

  TAudioFilesToBurn track;
  track.FileName = FileName;
  track.FileKind = decoder.FileKind();
  track.PauseSectors = PauseSectors;
  track.StartSample = StartSample;
  track.EndSample = EndSample;
  if (LengthSectors >= 1 && Stamp != nullptr) {
    track.Stamp = *Stamp;
    track.LengthSectors = LengthSectors;
  } else {
    // Stamped before measuring: a file that changes while it is measured
    // no longer matches.
    ReadFileStamp(FileName, track.Stamp);
    track.LengthSectors = LengthSectors >= 1 ? LengthSectors : decoder.MeasureSectors();
  }
  if (track.LengthSectors > kMaxTrackSectors) return TAddTrackResult::TooLong;

  Files.Tracks.push_back(std::move(track));
  Files.TotalSectors += TrackWriteSectors(Files.Tracks.back());
  ++Files.TrackCount;
  return TAddTrackResult::Added;
}

}  // namespace cv
