// TAudioFile: one audio file on its way to CD-DA PCM (44100 Hz, 16-bit
// signed little-endian, two interleaved channels).
//
// Identification: the constructor first tries the readers of the later
// kinds, each of which has a signature no other kind can have (FLAC's
// "fLaC", an Ogg first page with "OpusHead", MP4's "ftyp", FORM/AIFF or
// FORM/AIFC): a file with such a signature is of that kind (or of none,
// when its reader refuses the rest), so a chance MPEG frame sync inside it
// cannot make it MP3. Then the original order WMA, MP3, Ogg Vorbis, WAV;
// the first that accepts the file decides FileKind and EstimatedLength. The
// file name's extension plays no part. Every reader that was tried is kept
// until the object is destroyed; the readers not reached stay null.
//
// Measuring: CalcLength counts the samples from what the file itself says
// where that count is exact (CountLength), and decodes the whole file only
// where it is not; either way the result is the length a full decode gives.
//
// Decoding: PrepareDecoding opens the conversion (one stage to CD PCM, or two
// through an intermediate PCM format) and the file; DecodeBlock then reads and
// converts one block per call until it returns -1 at the end of the file;
// CalcLength decodes the whole file to measure LengthSectors. The conversion
// streams belong to the object: several decoders may work at once (for
// example a file measured while another is decoded for a burn), each on its
// own thread.
//
// Owner: the creator (the track list to measure a file, the cache thread per
// track, the burner component for SupportedKinds). An object is used by one
// thread at a time; distinct objects share nothing mutable.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "decode/cvACM.h"
#include "decode/cvMP4Source.h"
#include "formats/cvAIFFfile.h"
#include "formats/cvFLACfile.h"
#include "formats/cvMP3File.h"
#include "formats/cvMP4File.h"
#include "formats/cvOpusFile.h"
#include "formats/cvOggVorbis.h"
#include "formats/cvWAVfile.h"
#include "formats/cvWMAfile.h"

namespace cv {

// Kind of an audio file. The first four are the original kinds; FLAC, Ogg
// Opus, MP4/M4A (AAC or ALAC) and AIFF/AIFF-C came later.
enum TAudioFileKind : uint8_t {
  afNone = 0,
  afWAV = 1,
  afWMA = 2,
  afMP3 = 3,
  afOGG = 4,
  afFLAC = 5,
  afOpus = 6,
  afM4A = 7,
  afAIFF = 8,
};

// Every kind except afNone, in code order.
inline constexpr TAudioFileKind kAudioFileKinds[] = {afWAV, afWMA, afMP3, afOGG, afFLAC, afOpus, afM4A, afAIFF};

// A set of kinds: kind n is bit n (WAV 0x02, WMA 0x04, MP3 0x08, OGG 0x10,
// FLAC 0x20, Opus 0x40, M4A 0x80, AIFF 0x100). Two bytes wide since the
// later kinds: the original four keep their bits.
using TAudioFileKinds = uint16_t;

constexpr TAudioFileKinds KindBit(TAudioFileKind Kind) { return static_cast<TAudioFileKinds>(1u << Kind); }
constexpr bool HasKind(TAudioFileKinds Kinds, TAudioFileKind Kind) { return (Kinds & KindBit(Kind)) != 0; }

// "WAV", "WMA", "MP3", "OGG", "FLAC", "OPUS", "M4A", "AIFF" or "none".
const char* AudioFileKindName(TAudioFileKind Kind);

class TAudioFile {
 public:
  // Detects the codecs (SupportedKinds), then, unless FileName is empty or
  // only blanks and control characters, identifies the file: sets FileName
  // (as given), FileKind and EstimatedLength. An unknown or damaged file
  // gives afNone. A file that cannot be opened at all raises EInOutError
  // (device/cvIOError.h) from the Ogg reader: the object is then not made.
  explicit TAudioFile(const std::string& FileName);
  // Frees the readers, then closes any decoding still open.
  virtual ~TAudioFile();

  TAudioFile(const TAudioFile&) = delete;
  TAudioFile& operator=(const TAudioFile&) = delete;

  // --- Decoding ---

  // Opens the conversion, the file and the buffers. True: DecodeBlock may
  // be called. At most once per object.
  bool PrepareDecoding();
  // Reads and converts one block. Returns OutputLength (0 or more) while the
  // file has more data; -1 on the call that delivers the last PCM of the
  // file, whose PCM is still in OutputBuffer (OutputLength bytes). That is
  // the call that reaches the end of the file, unless the streams still hold
  // more PCM than OutputBuffer takes: the calls after it then hand that out
  // (reading nothing) and the last of them returns -1. Nothing is dropped,
  // and the total does not depend on how the file was split into blocks.
  // After -1 every call returns -1 with OutputLength 0.
  int32_t DecodeBlock();
  // Releases headers, buffers, streams and the file. Returns 0.
  int32_t CloseDecoding();
  // Sets LengthSectors and LengthSamples to the length of the file's
  // decoded PCM: counted without decoding where CountLength can
  // (LengthCounted then true), else by DecodeLength. Always True.
  bool CalcLength();
  // Decodes the whole file and sets LengthSectors and LengthSamples (0 when
  // decoding cannot be prepared). Always True. The streams, buffers and
  // file stay open.
  bool DecodeLength();
  // The number of CD PCM frames (44100 Hz stereo) a full decode of the file
  // yields, from what the file says about itself, without decoding; false
  // when the file does not say it exactly (damage, junk, a kind whose
  // count needs the codec) and Why then tells why. Does not change the
  // object's decoding state.
  bool CountLength(uint64_t& Frames, std::string* Why = nullptr);
  // CD PCM frames that Frames frames at Rate become through the PCM
  // converter (rounded to nearest; at an exact tie the converter is run on
  // silence to see which way it goes).
  static uint64_t ConvertedFrames(uint64_t Frames, uint32_t Rate);
  // Starts decoding at CD sample frame Samples (44100 Hz, one frame = one
  // sample of each channel) by moving in the file instead of decoding up to
  // it. Only right after a successful PrepareDecoding, and only where the
  // file's samples are the CD's one for one (PCM or float WAV at 44100 Hz,
  // one stage); false otherwise, nothing changed: the caller then decodes
  // and discards up to the start. A start beyond the end leaves nothing to
  // decode.
  bool SeekSamples(uint64_t Samples);
  // Sets SupportedKinds from the codec drivers present.
  void DetectCodecs();
  // Writes a warning line for a non-zero result code.
  void CheckResult(uint32_t Code);
  // Writes one diagnostic line (standard output unless a log sink is set).
  // A failed write raises EInOutError.
  void WriteLog(const std::string& Msg);

  // Where WriteLog lines go for every decoder of the process: a front end
  // sets it once at start-up (the command-line tool sends them to standard
  // error). Null: standard output. Safe from any thread.
  using TLogSink = std::function<void(const std::string& Line)>;
  static void SetLogSink(TLogSink Sink);

  // --- Fields ---

  uint32_t LastResult = 0;     // result code of the latest codec call checked
  uint32_t MaxFormatSize = 0;  // largest format block of any codec driver

  // The header readers that the constructor tried, owned; null when not
  // reached.
  std::unique_ptr<TMP3File> MP3File;
  std::unique_ptr<TOGGFile> OGGFile;
  std::unique_ptr<TWAVfile> WAVFile;
  std::unique_ptr<TWMAfile> WMAFile;
  // The later kinds' readers, tried first.
  std::unique_ptr<TFLACfile> FLACFile;
  std::unique_ptr<TOpusFile> OpusFile;
  std::unique_ptr<TMP4File> M4AFile;
  std::unique_ptr<TAIFFfile> AIFFFile;

  int32_t BlockSize = 0;          // file bytes read per DecodeBlock
  int32_t OutputSize = 0;         // PCM bytes one source block can yield
  uint32_t IntermediateSize = 0;  // intermediate PCM bytes per source block

  struct TFileCloser {
    void operator()(std::FILE* f) const noexcept {
      if (f) std::fclose(f);
    }
  };
  std::unique_ptr<std::FILE, TFileCloser> AudioData;  // the file, while decoding

  // The conversion streams, owned by this object: the first stage (source
  // to CD PCM, or to the suggested PCM) and the second (suggested PCM to CD
  // PCM, two stages only).
  HACMSTREAM SourceStream;
  HACMSTREAM PCMStream;
  ACMSTREAMHEADER SourceHeader{};
  ACMSTREAMHEADER PCMHeader{};
  // Format blocks: the source's (freed before PrepareDecoding returns), the
  // suggested intermediate PCM (two stages, temporary) and CD PCM.
  std::unique_ptr<TFormatBlock> SourceFormat;
  std::unique_ptr<TFormatBlock> SuggestedFormat;
  std::unique_ptr<TFormatBlock> TargetFormat;

  std::vector<uint8_t> SourceBuffer;        // 2 x BlockSize bytes
  std::vector<uint8_t> IntermediateBuffer;  // IntermediateSize bytes (two stages)
  std::vector<uint8_t> OutputBuffer;        // PCM of the last block
  int32_t OutputLength = 0;                 // PCM bytes in OutputBuffer
  bool TwoStage = false;                    // source -> PCM -> CD PCM

  // Running totals since PrepareDecoding: file bytes read, intermediate and
  // CD PCM bytes produced.
  int64_t TotalRead = 0;
  int64_t TotalIntermediate = 0;
  int64_t TotalOutput = 0;

  // Codec format tags 0x0055, 0x0160 and 0x6771 counted by DetectCodecs.
  int32_t MP3CodecCount = 0;
  int32_t WMACodecCount = 0;
  int32_t VorbisCodecCount = 0;
  // The later kinds' tags: FLAC, Opus, AAC or ALAC.
  int32_t FLACCodecCount = 0;
  int32_t OpusCodecCount = 0;
  int32_t MP4CodecCount = 0;

  std::string FileName;          // as given to the constructor
  uint32_t EstimatedLength = 0;  // Sectors, the reader's DurationSectors
  // Exact length in Sectors of the decoded PCM (CalcLength, or set by the
  // caller). 32 bits: an audio CD track may last up to 79:59.
  uint32_t LengthSectors = 0;
  // Exact length in CD sample frames (4 bytes each) of the decoded PCM, set
  // with LengthSectors by CalcLength.
  uint64_t LengthSamples = 0;
  // The last CalcLength counted the length without decoding.
  bool LengthCounted = false;
  TAudioFileKind FileKind = afNone;
  TAudioFileKinds SupportedKinds = 0;

 private:
  // Create steps 2 to 8: tries the readers in order.
  void Identify();
  // The source format block for FileKind; sets BlockSize and the range of
  // file bytes to feed (DataStart, DataEnd).
  std::unique_ptr<TFormatBlock> BuildSourceFormat();
  std::unique_ptr<TFormatBlock> NewFormat(uint16_t ExtraBytes) const;
  // Reads up to Count bytes of the data range at the file position (for
  // M4A, of MP4Stream).
  size_t ReadSource(uint8_t* Into, size_t Count);

  // An MP4 track's samples as the stream its codec is fed (the source
  // bytes of M4A files), while decoding.
  std::unique_ptr<TMP4Source> MP4Stream;

  // Bytes of the file that reach the codec: a WAV file's data chunk, the
  // whole file otherwise (for M4A, bytes of MP4Stream).
  uint64_t DataStart = 0;
  uint64_t DataEnd = 0;
  uint64_t Position = 0;
  bool Prepared = false;      // PrepareDecoding ran (successfully or not)
  bool Decoding = false;      // PrepareDecoding returned True, not closed
  bool InputEnded = false;    // the last block went in with the end flag
  bool SourcePending = false; // the first stage may hold more output
  bool PCMPending = false;    // the second stage may hold more output
  bool Finished = false;      // DecodeBlock returned -1
};

}  // namespace cv
