#include "burner/cvBurnTypes.h"

#include <cstdio>

namespace cv {

std::string BurnStatusText(std::uint8_t status) {
  switch (status) {
    case bsIdle: return "IDLE";
    case bsWriting: return "WRITING";
    case bsErasing: return "ERASING";
    case bsBackgroundFormat: return "BGFORMAT";
    case bsClosingTrack: return "CLOSING TRACK # ";
    case bsClosingSession: return "CLOSING SESSION/DISC";
    case bsPreparing: return "PREPARING";
    case bsAborting: return "ABORTING";
    case bsBurnError: return "BURN ERROR ABORTING";
    default: return "";
  }
}

std::string GetBurnErrorText(std::int32_t code) {
  switch (code) {
    case beNone: return "NO ERROR";
    case beDataNotPrepared: return "DATA NOT PREPARED FOR BURNING/WRITING";
    case beCantOpenFile: return "CAN'T OPEN FILE FOR READ";
    case beCantCreateFile: return "CAN'T CREATE FILE";
    case beAbortedByUser: return "ABORTED BY USER";
    case beNoTracks: return "NO TRACKS TO BURN";
    case beFileChanged: return "FILE CHANGED SINCE IT WAS ADDED";
    case beNoWritableDisc: return "NO BLANK OR APPENDABLE CD-R/CD-RW IN THE DRIVE";
    case beNotEnoughSpace: return "NOT ENOUGH FREE SPACE ON THE DISC";
    case beTrackEmpty: return "TRACK HAS NO AUDIO";
    case beTrackShort: return "TRACK SHORTER THAN MEASURED, FILLED WITH SILENCE";
    case beBusy: return "BURNER BUSY";
    case beDriveNotReady: return "DRIVE NOT READY";
    case beTooManyTracks: return "TOO MANY TRACKS";
    case beTrackTooLong: return "TRACK TOO LONG";
    case beNoDevice: return "NO DEVICE SELECTED";
    case beWriteFailed: return "WRITE FAILED";
    case beDiscNotClosed: return "DISC NOT CLOSED: A TRACK OR THE SESSION IS STILL OPEN";
    case beDriveTimeout: return "THE DRIVE DID NOT FINISH IN TIME";
    case beDiscOpen: return "LAST SESSION ON THE DISC IS OPEN OR DAMAGED: ERASE THE CD-RW OR USE A NEW CD-R";
    case beCloseRunning: return "THE DISC IS BEING CLOSED: THIS MUST FINISH";
    case beNothingToCancel: return "NO BURN TO CANCEL";
    case beSAONeedsBlankDisc: return "SESSION-AT-ONCE NEEDS A BLANK CD-R/CD-RW";
    case beSAOUnsupported: return "DRIVE CANNOT WRITE SESSION-AT-ONCE";
    case beCueSheetRefused: return "DRIVE REFUSED THE DISC LAYOUT (CUE SHEET)";
    case beDriveUnavailable: return "DRIVE CANNOT BE OPENED OR IS IN USE";
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "DEVICE ERROR %d", static_cast<int>(code));
      return text;
    }
  }
}

TBurnTimings PacedTimings(const TBurnTimings& timings, double pace) {
  if (!(pace >= 0) || pace >= 1) return timings;
  auto scaled = [pace](std::chrono::milliseconds period) {
    return std::chrono::milliseconds(static_cast<std::int64_t>(static_cast<double>(period.count()) * pace));
  };
  TBurnTimings paced = timings;
  paced.DrivePoll = scaled(timings.DrivePoll);
  paced.WriteRetry = scaled(timings.WriteRetry);
  paced.FailurePause = scaled(timings.FailurePause);
  paced.BlockPause = scaled(timings.BlockPause);
  return paced;
}

std::string MediumTypeName(std::uint8_t mediumType) {
  switch (mediumType) {
    case 0: return "none";
    case 1: return "CD-ROM";
    case 2: return "CD-R";
    case 3: return "CD-RW";
    case 4: return "DVD-ROM";
    case 5: return "DVD-R";
    case 6: return "DVD-RAM";
    case 8: return "DVD-RW (restricted overwrite)";
    case 9: return "DVD-RW (sequential)";
    case 10: return "DVD+RW";
    case 11: return "DVD+R";
    case 12: return "DDCD-ROM";
    case 13: return "DDCD-R";
    case 14: return "DDCD-RW";
    default: return "unknown";
  }
}

}  // namespace cv
