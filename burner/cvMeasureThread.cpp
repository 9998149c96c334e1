#include "burner/cvMeasureThread.h"

#include <exception>
#include <utility>

#include "burner/cvAudioCDBurner.h"
#include "decode/cvAudFiles.h"
#include "formats/cvID3v1.h"
#include "formats/cvID3v2.h"
#include "formats/cvOggVorbis.h"
#include "formats/cvTrackList.h"
#include "formats/cvWMAfile.h"

namespace cv {

void ReadTitleAndArtist(const std::string& FileName, std::uint8_t FileKind, std::string& Title, std::string& Artist) {
  Title.clear();
  Artist.clear();
  try {
    if (FileKind == afOGG) {
      TOGGFile ogg;
      if (ogg.ReadFileInfo(FileName)) {
        Title = ogg.Title;
        Artist = ogg.Artist;
      }
      return;
    }
    if (FileKind == afWMA) {
      TWMAfile wma;
      if (wma.ReadFileInfo(FileName)) {
        Title = wma.Title;
        Artist = wma.Artist;
      }
      return;
    }
    TID3v2 v2;
    if (v2.ReadTag(FileName) && v2.Present && (!v2.Title.empty() || !v2.Artist.empty())) {
      Title = v2.Title;
      Artist = v2.Artist;
      return;
    }
    TID3v1 v1;
    if (v1.ReadTag(FileName) && v1.Present) {
      Title = v1.Title;
      Artist = v1.Artist;
    }
  } catch (const std::exception&) {
    // A file whose tags cannot be read shows its name.
    Title.clear();
    Artist.clear();
  }
}

TMeasureThread::TMeasureThread(TStartedEvent Started, TDoneEvent Done)
    : Started_(std::move(Started)), Done_(std::move(Done)), Thread_([this](std::stop_token stop) { Run(stop); }) {}

TMeasureThread::~TMeasureThread() {
  Cancel();
  Thread_.request_stop();
  Wake_.notify_all();
  if (Thread_.joinable()) Thread_.join();
}

void TMeasureThread::Add(const std::vector<std::string>& Paths) {
  {
    std::lock_guard lock(Mutex_);
    Queue_.insert(Queue_.end(), Paths.begin(), Paths.end());
  }
  Wake_.notify_all();
}

void TMeasureThread::Cancel() {
  std::lock_guard lock(Mutex_);
  Queue_.clear();
  ++Generation_;
}

std::size_t TMeasureThread::Pending() const {
  std::lock_guard lock(Mutex_);
  return Queue_.size() + (Busy_ ? 1 : 0);
}

std::uint64_t TMeasureThread::Generation() const {
  std::lock_guard lock(Mutex_);
  return Generation_;
}

void TMeasureThread::Run(std::stop_token Stop) {
  // The thread's own component: measuring touches no drive and none of the
  // front end's component state.
  TKAudioCDBurner burner;
  for (;;) {
    std::string path;
    std::uint64_t generation = 0;
    {
      std::unique_lock lock(Mutex_);
      Busy_ = false;
      if (!Wake_.wait(lock, Stop, [this] { return !Queue_.empty(); })) return;
      path = std::move(Queue_.front());
      Queue_.pop_front();
      Busy_ = true;
      generation = Generation_;
    }
    if (Started_) Started_(path);

    TMeasureResult result;
    result.Path = path;
    result.Generation = generation;
    result.IsList = ListKindOfName(path) != TListKind::None;
    std::vector<TMeasuredTrack> tracks;
    try {
      result.Ok = MeasureTracks(burner, {path}, tracks, result.Problem);
    } catch (const std::exception& e) {
      result.Ok = false;
      result.Problem = path + ": " + e.what();
    }
    if (result.Ok) {
      for (TMeasuredTrack& track : tracks) {
        TMeasuredEntry entry;
        burner.GetMeasuredStamp(track.Track.Path, entry.Stamp);
        if (track.Track.CueTrack > 0 || !track.Track.Title.empty() || !track.Track.Performer.empty()) {
          entry.Title = track.Track.Title;
          entry.Artist = track.Track.Performer;
        } else {
          ReadTitleAndArtist(track.Track.Path, track.FileKind, entry.Title, entry.Artist);
        }
        entry.Measured = std::move(track);
        result.Tracks.push_back(std::move(entry));
      }
    }
    bool current = false;
    {
      std::lock_guard lock(Mutex_);
      current = generation == Generation_;
    }
    if (current && Done_ && !Stop.stop_requested()) Done_(std::move(result));
  }
}

}  // namespace cv
