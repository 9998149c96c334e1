#include "decode/cvAudFiles.h"

#include "formats/cvTagText.h"

namespace cv {

const char* AudioFileKindName(TAudioFileKind Kind) {
  switch (Kind) {
    case afWAV: return "WAV";
    case afWMA: return "WMA";
    case afMP3: return "MP3";
    case afOGG: return "OGG";
    case afNone: break;
  }
  return "none";
}

// ---------------------------------------------------------------------------
// Identification

TAudioFile::TAudioFile(const std::string& FileName) {
  // The codec layer is not built yet: plain PCM is the one kind decodable.
  SupportedKinds = KindBit(afWAV);
  if (TrimText(FileName).empty()) return;
  this->FileName = FileName;
  Identify();
}

TAudioFile::~TAudioFile() {
  WMAFile.reset();
  MP3File.reset();
  OGGFile.reset();
  WAVFile.reset();
}

void TAudioFile::Identify() {
  auto accept = [this](TAudioFileKind kind, int64_t sectors) {
    FileKind = kind;
    EstimatedLength = sectors > 0 ? static_cast<uint32_t>(sectors) : 0;
  };

  WMAFile = std::make_unique<TWMAfile>();
  WMAFile->ReadFileInfo(FileName);
  if (WMAFile->Valid) return accept(afWMA, WMAFile->DurationSectors);

  MP3File = std::make_unique<TMP3File>();
  MP3File->ReadFileInfo(FileName);
  if (MP3File->IsValid()) return accept(afMP3, MP3File->DurationSectors());

  OGGFile = std::make_unique<TOGGFile>();
  OGGFile->ReadFileInfo(FileName);  // raises EInOutError for an unopenable file
  if (OGGFile->IsValid()) return accept(afOGG, OGGFile->DurationSectors());

  WAVFile = std::make_unique<TWAVfile>();
  WAVFile->ReadFileInfo(FileName);
  if (WAVFile->Valid) return accept(afWAV, WAVFile->DurationSectors());

  FileKind = afNone;
}

}  // namespace cv
