#include "decode/cvAudFiles.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <iostream>
#include <mutex>

#include "decode/cvACMMP3.h"
#include "decode/cvACMPCM.h"
#include "device/cvByteReader.h"
#include "device/cvIOError.h"
#include "formats/cvMPEGFrames.h"
#include "formats/cvOggPages.h"
#include "formats/cvTagText.h"

namespace cv {

const char* AudioFileKindName(TAudioFileKind Kind) {
  switch (Kind) {
    case afWAV: return "WAV";
    case afWMA: return "WMA";
    case afMP3: return "MP3";
    case afOGG: return "OGG";
    case afFLAC: return "FLAC";
    case afOpus: return "OPUS";
    case afM4A: return "M4A";
    case afAIFF: return "AIFF";
    case afNone: break;
  }
  return "none";
}

// ---------------------------------------------------------------------------
// Identification

TAudioFile::TAudioFile(const std::string& FileName) {
  DetectCodecs();
  if (TrimText(FileName).empty()) return;
  this->FileName = FileName;
  Identify();
}

TAudioFile::~TAudioFile() {
  WMAFile.reset();
  MP3File.reset();
  OGGFile.reset();
  WAVFile.reset();
  FLACFile.reset();
  OpusFile.reset();
  AIFFFile.reset();
  CloseDecoding();
  M4AFile.reset();
}

void TAudioFile::Identify() {
  auto accept = [this](TAudioFileKind kind, int64_t sectors) {
    FileKind = kind;
    EstimatedLength = sectors > 0 ? static_cast<uint32_t>(sectors) : 0;
  };

  // The later kinds: a signature decides. A file with the signature that
  // its reader refuses is not tried further: a chance MP3 frame in it is no
  // audio.
  FLACFile = std::make_unique<TFLACfile>();
  if (FLACFile->ReadFileInfo(FileName)) {
    if (FLACFile->Valid) return accept(afFLAC, FLACFile->DurationSectors());
    FileKind = afNone;
    return;
  }
  OpusFile = std::make_unique<TOpusFile>();
  if (OpusFile->ReadFileInfo(FileName)) {
    if (OpusFile->Valid) return accept(afOpus, OpusFile->DurationSectors());
    FileKind = afNone;
    return;
  }
  M4AFile = std::make_unique<TMP4File>();
  M4AFile->ReadFileInfo(FileName);
  if (M4AFile->Valid) return accept(afM4A, M4AFile->DurationSectors());
  if (M4AFile->HasFtyp) {
    FileKind = afNone;
    return;
  }
  AIFFFile = std::make_unique<TAIFFfile>();
  if (AIFFFile->ReadFileInfo(FileName)) {
    if (AIFFFile->Valid) return accept(afAIFF, AIFFFile->DurationSectors());
    FileKind = afNone;
    return;
  }

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

// ---------------------------------------------------------------------------
// Codecs and diagnostics

namespace {

std::mutex LogMutex;
TAudioFile::TLogSink& LogSink() {
  static TAudioFile::TLogSink sink;
  return sink;
}

// The block sizes of the kinds: bytes of the file fed per DecodeBlock.
constexpr int32_t kBlockMP3 = 2048;
constexpr int32_t kBlockOGG = 2048;
constexpr int32_t kBlockWMA = 2352;
constexpr int32_t kBlockWAV = 1000;
constexpr int32_t kBlockM4A = 2048;
constexpr int32_t kBlockFLAC = 4096;

constexpr uint32_t kSectorBytes = 2352;
constexpr uint64_t kSectorFrames = 588;
constexpr uint32_t kCDRate = 44100;

// The real format of a WAVE_FORMAT_EXTENSIBLE fmt chunk: the first two bytes
// of its sub-format GUID. 0 when the file has no such chunk. Walks at most
// 4096 chunks, each size checked against the file.
uint16_t ExtensibleSubFormat(const std::string& path) {
  std::unique_ptr<std::FILE, TAudioFile::TFileCloser> f(std::fopen(path.c_str(), "rb"));
  if (!f) return 0;
  uint8_t riff[12];
  if (std::fread(riff, 1, 12, f.get()) != 12 || std::memcmp(riff, "RIFF", 4) || std::memcmp(riff + 8, "WAVE", 4))
    return 0;
  for (int i = 0; i < 4096; ++i) {
    uint8_t head[8];
    if (std::fread(head, 1, 8, f.get()) != 8) return 0;
    const uint32_t size = TByteReader(head, 4).LE32();
    if (!std::memcmp(head, "fmt ", 4)) {
      uint8_t fmt[26];
      if (size < 26 || std::fread(fmt, 1, 26, f.get()) != 26) return 0;
      if (TByteReader(fmt).LE16() != 0xFFFE) return 0;
      return TByteReader(fmt, 24).LE16();
    }
    if (std::fseek(f.get(), long(size + (size & 1)), SEEK_CUR) != 0) return 0;
  }
  return 0;
}

}  // namespace

void TAudioFile::SetLogSink(TLogSink Sink) {
  std::lock_guard<std::mutex> lock(LogMutex);
  LogSink() = std::move(Sink);
}

void TAudioFile::WriteLog(const std::string& Msg) {
  std::lock_guard<std::mutex> lock(LogMutex);
  if (LogSink()) {
    LogSink()(Msg);
    return;
  }
  std::cout << Msg << '\n';
  std::cout.flush();
  if (!std::cout) {
    std::cout.clear();
    throw EInOutError(errno ? errno : EIO);
  }
}

void TAudioFile::CheckResult(uint32_t Code) {
  switch (Code) {
    case MMSYSERR_NOERROR:
      return;
    case MMSYSERR_INVALHANDLE:
      WriteLog("Warning: The specified handle is invalid.");
      return;
    case MMSYSERR_INVALFLAG:
      WriteLog("Warning: At least one flag is invalid.");
      return;
    case MMSYSERR_INVALPARAM:
      WriteLog("Warning: Invalid parameters passed");
      return;
    case ACMERR_NOTPOSSIBLE:
      WriteLog("Warning: The requested operation cannot be performed/No capable filter found");
      return;
    default: {
      char text[32];
      std::snprintf(text, sizeof text, "Warning: mmr = %08" PRIX32, Code);
      WriteLog(text);
    }
  }
}

void TAudioFile::DetectCodecs() {
  MP3CodecCount = 0;
  WMACodecCount = 0;
  VorbisCodecCount = 0;
  FLACCodecCount = 0;
  OpusCodecCount = 0;
  MP4CodecCount = 0;
  LastResult = acmDriverEnum(
      [this](HACMDRIVERID Id, uintptr_t, uint32_t Support) {
        if (!(Support & ACMDRIVERDETAILS_SUPPORTF_CODEC)) return true;
        ACMDRIVERDETAILS details;
        details.cbStruct = sizeof details;
        acmDriverDetails(Id, &details, 0);
        HACMDRIVER driver = nullptr;
        acmDriverOpen(&driver, Id, 0);
        for (uint32_t i = 0; i < details.cFormatTags; ++i) {
          ACMFORMATTAGDETAILS tag;
          tag.cbStruct = sizeof tag;
          tag.dwFormatTagIndex = i;
          if (acmFormatTagDetails(driver, &tag, ACM_FORMATTAGDETAILSF_INDEX) != MMSYSERR_NOERROR) continue;
          if (tag.dwFormatTag == WAVE_FORMAT_MPEGLAYER3) ++MP3CodecCount;
          if (tag.dwFormatTag == WAVE_FORMAT_WMAUDIO1) ++WMACodecCount;
          if (tag.dwFormatTag == WAVE_FORMAT_OGG_VORBIS) ++VorbisCodecCount;
          if (tag.dwFormatTag == WAVE_FORMAT_FLAC) ++FLACCodecCount;
          if (tag.dwFormatTag == WAVE_FORMAT_OPUS) ++OpusCodecCount;
          if (tag.dwFormatTag == WAVE_FORMAT_AAC || tag.dwFormatTag == WAVE_FORMAT_ALAC) ++MP4CodecCount;
        }
        acmDriverClose(driver, 0);
        return true;
      },
      0, 0);
  CheckResult(LastResult);
  // WAV and AIFF need only the PCM converter.
  SupportedKinds = KindBit(afWAV) | KindBit(afAIFF);
  if (MP3CodecCount > 0) SupportedKinds |= KindBit(afMP3);
  if (WMACodecCount > 0) SupportedKinds |= KindBit(afWMA);
  if (VorbisCodecCount > 0) SupportedKinds |= KindBit(afOGG);
  if (FLACCodecCount > 0) SupportedKinds |= KindBit(afFLAC);
  if (OpusCodecCount > 0) SupportedKinds |= KindBit(afOpus);
  if (MP4CodecCount > 0) SupportedKinds |= KindBit(afM4A);
}

// ---------------------------------------------------------------------------
// Decoding

std::unique_ptr<TFormatBlock> TAudioFile::NewFormat(uint16_t ExtraBytes) const {
  auto f = std::make_unique<TFormatBlock>(std::max<size_t>(MaxFormatSize, TFormatBlock::kHeaderSize + ExtraBytes));
  f->SetCbSize(ExtraBytes);
  return f;
}

std::unique_ptr<TFormatBlock> TAudioFile::BuildSourceFormat() {
  auto mp3Tail = [](TFormatBlock& f) {
    // MPEGLAYER3WAVEFORMAT: wID 1 (MPEG), fdwFlags 2 (padding off),
    // nBlockSize 2048, nFramesPerBlock 1, nCodecDelay 1393.
    TByteWriter(f.MutableExtra()).LE16(1).LE32(2).LE16(2048).LE16(1).LE16(1393);
  };
  std::unique_ptr<TFormatBlock> f;
  struct stat st {};
  if (::stat(FileName.c_str(), &st) == 0) DataEnd = uint64_t(st.st_size);
  DataStart = 0;
  switch (FileKind) {
    case afMP3: {
      // The stream's own format, as the codec will decode it: the header
      // reader's frame may be a chance match (in a tag it did not skip, say).
      uint32_t rate = MP3File->SampleRateHz();
      uint16_t channels = MP3File->ChannelCount();
#if CORVID_WITH_MP3
      MP3StreamFormat(FileName, 0, DataEnd, &rate, &channels);
#endif
      f = NewFormat(12);
      f->SetFormatTag(WAVE_FORMAT_MPEGLAYER3);
      f->SetChannels(channels);
      f->SetSamplesPerSec(rate);
      f->SetAvgBytesPerSec(uint32_t(MP3File->BitRateKbps()) << 7);
      f->SetBlockAlign(1);
      mp3Tail(*f);
      BlockSize = kBlockMP3;
      break;
    }
    case afOGG:
      f = NewFormat(4);
      f->SetFormatTag(WAVE_FORMAT_OGG_VORBIS);
      f->SetChannels(OGGFile->ChannelCount);
      f->SetSamplesPerSec(OGGFile->SampleRate);
      f->SetAvgBytesPerSec(uint32_t(OGGFile->BitRateNominal) * 128);
      f->SetBlockAlign(1);
      BlockSize = kBlockOGG;
      break;
    case afWMA:
      f = NewFormat(84);
      f->SetFormatTag(WAVE_FORMAT_WMAUDIO1);  // the driver reads the real tag from the stream
      f->SetChannels(WMAFile->ChannelCount);
      f->SetSamplesPerSec(uint32_t(WMAFile->SampleRate));
      f->SetAvgBytesPerSec(uint32_t(WMAFile->BitRateKbps) * 128);
      f->SetBlockAlign(1);
      f->SetBitsPerSample(16);  // not used by the driver
      BlockSize = kBlockWMA;
      break;
    case afWAV: {
      // Only the samples of the data chunk, in the format of the fmt chunk.
      uint16_t tag = WAVFile->FormatTag;
      if (tag == 0xFFFE) tag = ExtensibleSubFormat(FileName);
      f = NewFormat(tag == WAVE_FORMAT_MPEGLAYER3 ? 12 : 84);
      f->SetFormatTag(tag);
      f->SetChannels(WAVFile->ChannelCount);
      f->SetSamplesPerSec(WAVFile->SampleRate);
      f->SetAvgBytesPerSec(WAVFile->BytesPerSecond);
      f->SetBlockAlign(WAVFile->BlockAlign);
      f->SetBitsPerSample(WAVFile->BitsPerSample);
      if (tag == WAVE_FORMAT_MPEGLAYER3) mp3Tail(*f);
      DataStart = std::min<uint64_t>(WAVFile->HeaderSize, DataEnd);
      DataEnd = std::min<uint64_t>(DataEnd, DataStart + WAVFile->DataSize);
#if CORVID_WITH_MP3
      if (tag == WAVE_FORMAT_MPEGLAYER3) {
        uint32_t rate = WAVFile->SampleRate;
        uint16_t channels = WAVFile->ChannelCount;
        if (MP3StreamFormat(FileName, DataStart, DataEnd, &rate, &channels)) {
          f->SetChannels(channels);
          f->SetSamplesPerSec(rate);
        }
      }
#endif
      BlockSize = kBlockWAV;
      break;
    }
    case afFLAC: {
      // The whole file: the driver walks the metadata itself and decodes in
      // the frames' own format, converted to the one opened.
      const TFLACfile& fl = *FLACFile;
      f = NewFormat(0);
      f->SetFormatTag(WAVE_FORMAT_FLAC);
      f->SetChannels(fl.ChannelCount);
      f->SetSamplesPerSec(fl.SampleRate);
      f->SetAvgBytesPerSec(fl.SampleRate * fl.ChannelCount * ((fl.BitsPerSample + 7u) / 8u));
      f->SetBlockAlign(1);
      f->SetBitsPerSample(fl.BitsPerSample);
      BlockSize = kBlockFLAC;
      break;
    }
    case afOpus:
      // The whole file, decoded at Opus's own rate; the PCM converter takes
      // it to 44100 Hz.
      f = NewFormat(0);
      f->SetFormatTag(WAVE_FORMAT_OPUS);
      f->SetChannels(OpusFile->ChannelCount);
      f->SetSamplesPerSec(TOpusFile::kDecodeRate);
      f->SetAvgBytesPerSec(TOpusFile::kDecodeRate * OpusFile->ChannelCount * 2);
      f->SetBlockAlign(1);
      f->SetBitsPerSample(16);
      BlockSize = kBlockOGG;
      break;
    case afM4A:
      // The track's samples, framed (cvMP4Source); the stream is set up
      // once the file is open.
      f = MP4SourceFormat(*M4AFile, MaxFormatSize);
      BlockSize = kBlockM4A;
      break;
    case afAIFF: {
      // The samples of the SSND chunk as the PCM converter reads them:
      // big-endian integers (8-bit ones signed) or floats, little-endian
      // for "sowt", offset-binary 8-bit for "raw ".
      const TAIFFfile& a = *AIFFFile;
      const uint32_t bytes = a.BytesPerSample();
      const uint32_t frameBytes = bytes * a.ChannelCount;
      uint16_t tag = WAVE_FORMAT_PCM_BE;
      if (a.Float)
        tag = WAVE_FORMAT_FLOAT_BE;
      else if (bytes == 1 ? a.Unsigned : a.LittleEndian)
        tag = WAVE_FORMAT_PCM;
      f = NewFormat(0);
      f->SetFormatTag(tag);
      f->SetChannels(a.ChannelCount);
      f->SetSamplesPerSec(a.SampleRate);
      f->SetAvgBytesPerSec(a.SampleRate * frameBytes);
      f->SetBlockAlign(uint16_t(frameBytes));
      f->SetBitsPerSample(uint16_t(bytes * 8));
      DataStart = std::min<uint64_t>(uint64_t(a.DataOffset), DataEnd);
      DataEnd = std::min<uint64_t>(DataEnd, DataStart + a.Frames() * frameBytes);
      BlockSize = kBlockWAV;
      break;
    }
    case afNone:
      // No source format: the opens below fail.
      f = NewFormat(0);
      BlockSize = kBlockWAV;
      break;
  }
  return f;
}

bool TAudioFile::PrepareDecoding() {
  if (Prepared) return false;  // a decoder is prepared once
  Prepared = true;
  TotalRead = TotalIntermediate = TotalOutput = 0;
  MaxFormatSize = 0;
  SourceStream.reset();
  PCMStream.reset();

  LastResult = acmMetrics(nullptr, ACM_METRIC_MAX_SIZE_FORMAT, &MaxFormatSize);
  CheckResult(LastResult);

  SourceFormat = BuildSourceFormat();
  TargetFormat = std::make_unique<TFormatBlock>(TFormatBlock::Pcm(WAVE_FORMAT_PCM, 2, 44100, 16));
  TwoStage = false;

  LastResult = acmStreamOpen(&SourceStream, nullptr, *SourceFormat, *TargetFormat, nullptr, 0, 0, 0);
  CheckResult(LastResult);
  if (LastResult != MMSYSERR_NOERROR) {
    SuggestedFormat = NewFormat(0);
    SuggestedFormat->SetFormatTag(WAVE_FORMAT_PCM);
    // The destination size is the block's own size, never more.
    LastResult = acmFormatSuggest(nullptr, *SourceFormat, *SuggestedFormat, uint32_t(SuggestedFormat->Size()),
                                  ACM_FORMATSUGGESTF_WFORMATTAG);
    CheckResult(LastResult);
    if (LastResult == MMSYSERR_NOERROR)
      LastResult = acmStreamOpen(&SourceStream, nullptr, *SourceFormat, *SuggestedFormat, nullptr, 0, 0, 0);
    CheckResult(LastResult);
    if (LastResult == MMSYSERR_NOERROR) TwoStage = true;
    LastResult = acmStreamOpen(&PCMStream, nullptr, *SuggestedFormat, *TargetFormat, nullptr, 0, 0, 0);
    SuggestedFormat.reset();
  }
  CheckResult(LastResult);
  SourceFormat.reset();
  TargetFormat.reset();

  // An unidentified file has nothing to decode: it is not opened.
  if (FileKind != afNone) {
    AudioData.reset(std::fopen(FileName.c_str(), "rb"));
    if (!AudioData) throw EInOutError(errno ? errno : ENOENT, FileName);
    if (DataStart > 0 && ::fseeko(AudioData.get(), off_t(DataStart), SEEK_SET) != 0)
      throw EInOutError(errno ? errno : EIO, FileName);
    if (FileKind == afM4A) {
      MP4Stream = std::make_unique<TMP4Source>(*M4AFile, AudioData.get());
      DataStart = 0;
      DataEnd = MP4Stream->Size();
    }
  }
  Position = DataStart;

  OutputSize = 0;
  uint32_t size = 0;
  if (TwoStage) {
    LastResult = acmStreamSize(SourceStream, uint32_t(BlockSize), &IntermediateSize, ACM_STREAMSIZEF_SOURCE);
    CheckResult(LastResult);
    LastResult = acmStreamSize(PCMStream, IntermediateSize, &size, ACM_STREAMSIZEF_SOURCE);
    CheckResult(LastResult);
  } else {
    LastResult = acmStreamSize(SourceStream, uint32_t(BlockSize), &size, ACM_STREAMSIZEF_SOURCE);
    CheckResult(LastResult);
  }
  OutputSize = int32_t(size);
  if (OutputSize == 0 || (TwoStage && IntermediateSize == 0)) {
    WriteLog("invalid buffer Size");
    return false;
  }

  SourceBuffer.assign(size_t(BlockSize) * 2, 0);
  OutputBuffer.assign(size_t(OutputSize) * 2, 0);
  SourceHeader = ACMSTREAMHEADER{};
  SourceHeader.cbStruct = sizeof(ACMSTREAMHEADER);
  SourceHeader.pbSrc = SourceBuffer.data();
  SourceHeader.cbSrcLength = uint32_t(BlockSize);
  if (TwoStage) {
    IntermediateBuffer.assign(IntermediateSize, 0);
    SourceHeader.pbDst = IntermediateBuffer.data();
    SourceHeader.cbDstLength = IntermediateSize;
    PCMHeader = ACMSTREAMHEADER{};
    PCMHeader.cbStruct = sizeof(ACMSTREAMHEADER);
    PCMHeader.pbSrc = IntermediateBuffer.data();
    PCMHeader.cbSrcLength = IntermediateSize;
    PCMHeader.pbDst = OutputBuffer.data();
    PCMHeader.cbDstLength = uint32_t(OutputSize);
    LastResult = acmStreamPrepareHeader(PCMStream, &PCMHeader, 0);
    CheckResult(LastResult);
  } else {
    SourceHeader.pbDst = OutputBuffer.data();
    SourceHeader.cbDstLength = uint32_t(OutputSize) * 2;
  }
  LastResult = acmStreamPrepareHeader(SourceStream, &SourceHeader, 0);
  CheckResult(LastResult);
  Decoding = LastResult == MMSYSERR_NOERROR && AudioData;
  return Decoding;
}

size_t TAudioFile::ReadSource(uint8_t* Into, size_t Count) {
  uint64_t left = DataEnd > Position ? DataEnd - Position : 0;
  size_t want = size_t(std::min<uint64_t>(Count, left));
  size_t n = 0;
  if (MP4Stream) {
    n = MP4Stream->Read(Into, want);  // raises EInOutError itself
  } else {
    n = want ? std::fread(Into, 1, want, AudioData.get()) : 0;
    if (n < want && std::ferror(AudioData.get())) throw EInOutError(errno ? errno : EIO, FileName);
  }
  Position += n;
  if (n < want) DataEnd = Position;  // the file is shorter than it was: end here
  return n;
}

int32_t TAudioFile::DecodeBlock() {
  OutputLength = 0;
  if (!Decoding || Finished) return -1;
  uint32_t intermediate = 0;
  // The first stage: a new block, or what it still holds.
  if (!TwoStage || !PCMPending) {
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN;
    if (!SourcePending && !InputEnded) {
      size_t n = ReadSource(SourceBuffer.data(), size_t(BlockSize));
      TotalRead += int64_t(n);
      SourceHeader.cbSrcLength = uint32_t(n);
      if (Position >= DataEnd) InputEnded = true;
    } else {
      SourceHeader.cbSrcLength = 0;
    }
    if (InputEnded) flags |= ACM_STREAMCONVERTF_END;
    LastResult = acmStreamConvert(SourceStream, &SourceHeader, flags);
    CheckResult(LastResult);
    intermediate = SourceHeader.cbDstLengthUsed;
    SourcePending = intermediate > 0 && intermediate == SourceHeader.cbDstLength;
  }
  bool done = InputEnded && !SourcePending;
  if (TwoStage) {
    TotalIntermediate += intermediate;
    // The second stage ends once the first has handed out everything.
    uint32_t flags = ACM_STREAMCONVERTF_BLOCKALIGN | (done ? ACM_STREAMCONVERTF_END : 0);
    PCMHeader.cbSrcLength = intermediate;
    PCMHeader.cbDstLengthUsed = 0;
    if (intermediate > 0 || PCMPending || done) {
      LastResult = acmStreamConvert(PCMStream, &PCMHeader, flags);
      CheckResult(LastResult);
    }
    OutputLength = int32_t(PCMHeader.cbDstLengthUsed);
    PCMPending = OutputLength > 0 && PCMHeader.cbDstLengthUsed == PCMHeader.cbDstLength;
    done = done && !PCMPending;
  } else {
    OutputLength = int32_t(SourceHeader.cbDstLengthUsed);
  }
  TotalOutput += OutputLength;
  if (!done) return OutputLength;
  Finished = true;
  return -1;
}

int32_t TAudioFile::CloseDecoding() {
  LastResult = 0;
  if (SourceStream && (SourceHeader.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
    LastResult = acmStreamUnprepareHeader(SourceStream, &SourceHeader, 0);
  CheckResult(LastResult);
  LastResult = 0;
  if (PCMStream && (PCMHeader.fdwStatus & ACMSTREAMHEADER_STATUSF_PREPARED))
    LastResult = acmStreamUnprepareHeader(PCMStream, &PCMHeader, 0);
  CheckResult(LastResult);
  OutputBuffer = {};
  SourceBuffer = {};
  IntermediateBuffer = {};
  if (SourceStream) acmStreamClose(SourceStream, 0);
  if (PCMStream) acmStreamClose(PCMStream, 0);
  MP4Stream.reset();
  AudioData.reset();
  Decoding = false;
  return 0;
}

bool TAudioFile::CalcLength() {
  LengthCounted = false;
  uint64_t frames = 0;
  if (!Prepared && CountLength(frames)) {
    const uint64_t sectors = (frames + kSectorFrames - 1) / kSectorFrames;
    LengthSectors = uint32_t(std::min<uint64_t>(sectors, UINT32_MAX));
    LengthSamples = frames;
    EstimatedLength = 0;
    LengthCounted = true;
    return true;
  }
  return DecodeLength();
}

uint64_t TAudioFile::ConvertedFrames(uint64_t Frames, uint32_t Rate) {
  if (Rate == kCDRate || Rate == 0) return Rate ? Frames : 0;
  const unsigned __int128 num = (unsigned __int128)Frames * kCDRate;
  const uint64_t q = uint64_t(num / Rate), r = uint64_t(num % Rate);
  if (2 * uint64_t(r) < Rate) return q;
  if (2 * uint64_t(r) > Rate) return q + 1;
  // An exact tie: the resampler decides; run it on silence.
  TPCMConverter conv(TPcmShape{TSampleType::S16, 1, kCDRate});
  const TPcmShape src{TSampleType::S16, 1, Rate};
  const std::vector<uint8_t> zeros(65536 * 2, 0);
  std::vector<uint8_t> sink(65536);
  uint64_t out = 0;
  auto drain = [&] {
    for (size_t n; (n = conv.Output().Take(sink.data(), sink.size(), 2)) > 0;) out += n / 2;
  };
  for (uint64_t done = 0; done < Frames;) {
    const size_t n = size_t(std::min<uint64_t>(65536, Frames - done));
    conv.Write(zeros.data(), n, src);
    done += n;
    drain();
  }
  conv.Finish();
  drain();
  return out;
}

bool TAudioFile::CountLength(uint64_t& Frames, std::string* Why) {
  Frames = 0;
  auto no = [&](const std::string& why) {
    if (Why) *Why = why;
    return false;
  };
  if (FileKind == afNone) return no("not an audio file");
  if (!HasKind(SupportedKinds, FileKind)) return no("no codec for this kind");
  TFileByteSource source(FileName);
  if (!source.IsOpen()) return no("the file cannot be opened");
  switch (FileKind) {
    case afWAV:
    case afAIFF: {
      // PCM: the data range the decoder feeds, in whole frames of the
      // shape the converter reads.
      auto format = BuildSourceFormat();
      TPcmShape shape;
      if (!ShapeOfFormat(*format, &shape)) return no("not PCM the converter reads");
      Frames = ConvertedFrames((DataEnd - DataStart) / shape.FrameBytes(), shape.Rate);
      return true;
    }
    case afMP3: {
      const TMPEGFrames count = CountMPEGFrames(source);
      if (!count.Exact) return no(count.Why);
      Frames = ConvertedFrames(count.Samples, count.SampleRate);
      return true;
    }
    case afOGG: {
      const TOggWalk walk = WalkOggStream(source, OGGFile->ID3v2Size);
      if (!walk.Whole || walk.LastGranule < 0) return no("not one whole, undamaged Ogg stream");
      Frames = ConvertedFrames(uint64_t(walk.LastGranule), OGGFile->SampleRate);
      return true;
    }
    case afOpus: {
      if (OpusFile->ChannelCount > 2) return no("more than two channels");
      const TOggWalk walk = WalkOggStream(source, OpusFile->ID3v2Size);
      if (!walk.Whole || walk.LastGranule < 0) return no("not one whole, undamaged Ogg stream");
      const uint64_t granule = uint64_t(walk.LastGranule);
      const uint64_t samples = granule > OpusFile->PreSkip ? granule - OpusFile->PreSkip : 0;
      Frames = ConvertedFrames(samples, TOpusFile::kDecodeRate);
      return true;
    }
    case afFLAC: {
      const TFLACfile& f = *FLACFile;
      if (f.ChannelCount > 2) return no("more than two channels");
      if (f.TotalSamples == 0) return no("the stream does not say its length");
      if (FLACEndSample(source, f.AudioOffset, f.MaxBlockSize) != int64_t(f.TotalSamples))
        return no("the last frame does not end the stream where its header says");
      Frames = ConvertedFrames(f.TotalSamples, f.SampleRate);
      return true;
    }
    case afM4A: {
      // The driver decodes every sample of the track and keeps the
      // PlayableUnits after the EncoderDelay, as far as the decoded frames
      // go. Counted for ALAC and for plain AAC at the track's rate; SBR and
      // PS (which change the output rate) and cut-off files are measured by
      // decoding.
      const TMP4File& m = *M4AFile;
      if (m.Truncated) return no("the file ends inside its samples");
      if (m.TimeScale != m.SampleRate || m.SampleRate == 0) return no("the track's time scale is not its rate");
      if (m.Codec == TMP4Codec::AAC) {
        if (!AACConfigIsPlain(m.DecoderConfig, m.SampleRate))
          return no("AAC that is not plain (SBR, PS, 960-sample frames)");
      } else if (m.Codec != TMP4Codec::ALAC) {
        return no("not AAC or ALAC");
      }
      // What the decoder gives: 1024 frames per AAC access unit, whatever
      // the time table says of the last one; ALAC frames say their own
      // length, which the time table repeats.
      const uint64_t decoded =
          m.Codec == TMP4Codec::AAC ? uint64_t(m.SampleSizes.size()) * 1024 : m.MediaUnits;
      if (decoded <= m.EncoderDelay) return no("the delay covers the whole track");
      Frames = ConvertedFrames(std::min(m.PlayableUnits, decoded - m.EncoderDelay), m.SampleRate);
      return true;
    }
    case afWMA:
    case afNone:
      break;
  }
  return no("this kind is measured by decoding");
}

bool TAudioFile::DecodeLength() {
  if (!PrepareDecoding()) {
    LengthSectors = 0;
    LengthSamples = 0;
    return true;
  }
  EstimatedLength = 0;
  while (DecodeBlock() != -1) {
  }
  uint64_t sectors = uint64_t(TotalOutput) / kSectorBytes + (uint64_t(TotalOutput) % kSectorBytes ? 1 : 0);
  LengthSectors = uint32_t(std::min<uint64_t>(sectors, UINT32_MAX));
  LengthSamples = uint64_t(TotalOutput) / 4;
  return true;
}

bool TAudioFile::SeekSamples(uint64_t Samples) {
  // Once, before the first block: the file must still be at the data's start.
  if (!Decoding || Finished || TotalRead != 0 || InputEnded || Position != DataStart) return false;
  if (TwoStage || FileKind != afWAV || !WAVFile) return false;
  uint16_t tag = WAVFile->FormatTag;
  if (tag == 0xFFFE) tag = ExtensibleSubFormat(FileName);
  const uint32_t bits = WAVFile->BitsPerSample;
  const bool pcm = tag == WAVE_FORMAT_PCM && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
  const bool real = tag == 3 && bits == 32;  // IEEE float
  const uint32_t channels = WAVFile->ChannelCount;
  if (!(pcm || real) || WAVFile->SampleRate != 44100 || channels < 1 || channels > 2) return false;
  const uint64_t frameBytes = uint64_t(bits / 8) * channels;
  if (WAVFile->BlockAlign != frameBytes) return false;
  const uint64_t length = DataEnd - DataStart;
  const uint64_t offset = Samples >= length / frameBytes ? length : Samples * frameBytes;
  if (::fseeko(AudioData.get(), off_t(DataStart + offset), SEEK_SET) != 0)
    throw EInOutError(errno ? errno : EIO, FileName);
  Position = DataStart + offset;
  return true;
}

}  // namespace cv
