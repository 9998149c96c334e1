#include "decode/cvACM.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "decode/cvACMDriver.h"
#include "decode/cvACMPCM.h"

namespace cv {

// ---------------------------------------------------------------- format blocks

TFormatBlock::TFormatBlock(size_t size) : Bytes(std::max(size, kHeaderSize), uint8_t(0)) {}

TFormatBlock TFormatBlock::Pcm(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits) {
  TFormatBlock f;
  f.SetFormatTag(tag);
  f.SetChannels(channels);
  f.SetSamplesPerSec(rate);
  auto align = static_cast<uint16_t>(channels * ((bits + 7) / 8));
  f.SetBlockAlign(align);
  f.SetAvgBytesPerSec(rate * align);
  f.SetBitsPerSample(bits);
  f.SetCbSize(0);
  return f;
}

std::span<const uint8_t> TFormatBlock::Extra() const {
  size_t n = std::min<size_t>(cbSize(), Bytes.size() - kHeaderSize);
  return {Bytes.data() + kHeaderSize, n};
}

std::span<uint8_t> TFormatBlock::MutableExtra() {
  size_t n = std::min<size_t>(cbSize(), Bytes.size() - kHeaderSize);
  return {Bytes.data() + kHeaderSize, n};
}

uint16_t TFormatBlock::Get16(size_t at) const { return uint16_t(Bytes[at] | (Bytes[at + 1] << 8)); }
uint32_t TFormatBlock::Get32(size_t at) const {
  return uint32_t(Bytes[at]) | (uint32_t(Bytes[at + 1]) << 8) | (uint32_t(Bytes[at + 2]) << 16) |
         (uint32_t(Bytes[at + 3]) << 24);
}
void TFormatBlock::Put16(size_t at, uint16_t v) {
  Bytes[at] = uint8_t(v);
  Bytes[at + 1] = uint8_t(v >> 8);
}
void TFormatBlock::Put32(size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) Bytes[at + k] = uint8_t(v >> (8 * k));
}

// ---------------------------------------------------------------- driver table

class TACMDriverHandle {
 public:
  const TACMDriverEntry* Entry = nullptr;
};

namespace {

struct TDriverTable {
  std::vector<const TACMDriverEntry*> Entries;
  std::vector<TACMDriverHandle> Handles;  // one per entry, same order
};

const TDriverTable& Table() {
  static const TDriverTable table = [] {
    TDriverTable t;
    t.Entries.push_back(&PCMDriver());
#if CORVID_WITH_MP3
    t.Entries.push_back(&MP3Driver());
#endif
#if CORVID_WITH_VORBIS
    t.Entries.push_back(&VorbisDriver());
#endif
#if CORVID_WITH_WMA
    t.Entries.push_back(&WMADriver());
#endif
#if CORVID_WITH_FLAC
    t.Entries.push_back(&FLACDriver());
#endif
#if CORVID_WITH_OPUS
    t.Entries.push_back(&OpusDriver());
#endif
#if CORVID_WITH_MP4
    t.Entries.push_back(&MP4Driver());
#endif
#if CORVID_WITH_WAVCODECS
    t.Entries.push_back(&WAVCodecsDriver());
#endif
    for (const auto* e : t.Entries) t.Handles.push_back(TACMDriverHandle{e});
    return t;
  }();
  return table;
}

bool KnownId(HACMDRIVERID id) {
  const auto& e = Table().Entries;
  return id && std::find(e.begin(), e.end(), id) != e.end();
}

bool KnownHandle(HACMDRIVER had) {
  for (const auto& h : Table().Handles)
    if (&h == had) return true;
  return false;
}

bool ListsTag(const TACMDriverEntry& e, uint16_t tag) {
  return std::any_of(e.Tags.begin(), e.Tags.end(), [&](const TACMFormatTagInfo& t) { return t.Tag == tag; });
}

void CopyText(char* dst, size_t size, const char* src) {
  std::strncpy(dst, src, size - 1);
  dst[size - 1] = '\0';
}

// The drivers a call with driver handle had may use: that one, or all.
std::vector<const TACMDriverEntry*> Candidates(HACMDRIVER had) {
  if (had) return {had->Entry};
  return Table().Entries;
}

}  // namespace

MMRESULT acmDriverEnum(const ACMDRIVERENUMCB& fnCallback, uintptr_t dwInstance, uint32_t fdwEnum) {
  if (!fnCallback) return MMSYSERR_INVALPARAM;
  if (fdwEnum != 0) return MMSYSERR_INVALFLAG;
  for (const auto* e : Table().Entries)
    if (!fnCallback(e, dwInstance, e->Support)) break;
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverDetails(HACMDRIVERID hadid, ACMDRIVERDETAILS* padd, uint32_t fdwDetails) {
  if (!KnownId(hadid)) return MMSYSERR_INVALHANDLE;
  if (!padd || padd->cbStruct != sizeof(ACMDRIVERDETAILS)) return MMSYSERR_INVALPARAM;
  if (fdwDetails != 0) return MMSYSERR_INVALFLAG;
  ACMDRIVERDETAILS d;
  d.cbStruct = sizeof(ACMDRIVERDETAILS);
  d.fccType = 0x63647561;  // "audc"
  d.vdwACM = 0x04000000;
  d.vdwDriver = 0x01000000;
  d.fdwSupport = hadid->Support;
  d.cFormatTags = static_cast<uint32_t>(hadid->Tags.size());
  CopyText(d.szShortName, sizeof d.szShortName, hadid->ShortName);
  CopyText(d.szLongName, sizeof d.szLongName, hadid->LongName);
  CopyText(d.szLicensing, sizeof d.szLicensing, "See the licences of the libraries it uses.");
  *padd = d;
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverOpen(HACMDRIVER* phad, HACMDRIVERID hadid, uint32_t fdwOpen) {
  if (!phad) return MMSYSERR_INVALPARAM;
  *phad = nullptr;
  if (!KnownId(hadid)) return MMSYSERR_INVALHANDLE;
  if (fdwOpen != 0) return MMSYSERR_INVALFLAG;
  const auto& t = Table();
  for (size_t i = 0; i < t.Entries.size(); ++i)
    if (t.Entries[i] == hadid) *phad = const_cast<TACMDriverHandle*>(&t.Handles[i]);
  return MMSYSERR_NOERROR;
}

MMRESULT acmDriverClose(HACMDRIVER had, uint32_t fdwClose) {
  if (!KnownHandle(had)) return MMSYSERR_INVALHANDLE;
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  return MMSYSERR_NOERROR;
}

MMRESULT acmFormatTagDetails(HACMDRIVER had, ACMFORMATTAGDETAILS* paftd, uint32_t fdwDetails) {
  if (had && !KnownHandle(had)) return MMSYSERR_INVALHANDLE;
  if (!paftd || paftd->cbStruct != sizeof(ACMFORMATTAGDETAILS)) return MMSYSERR_INVALPARAM;
  const TACMFormatTagInfo* found = nullptr;
  const TACMDriverEntry* owner = nullptr;
  if (fdwDetails == ACM_FORMATTAGDETAILSF_INDEX) {
    if (!had) return MMSYSERR_INVALHANDLE;
    if (paftd->dwFormatTagIndex >= had->Entry->Tags.size()) return ACMERR_NOTPOSSIBLE;
    found = &had->Entry->Tags[paftd->dwFormatTagIndex];
    owner = had->Entry;
  } else if (fdwDetails == ACM_FORMATTAGDETAILSF_FORMATTAG) {
    for (const auto* e : Candidates(had)) {
      for (const auto& t : e->Tags)
        if (t.Tag == paftd->dwFormatTag) {
          found = &t;
          owner = e;
          break;
        }
      if (found) break;
    }
    if (!found) return ACMERR_NOTPOSSIBLE;
  } else {
    return MMSYSERR_INVALFLAG;
  }
  uint32_t index = static_cast<uint32_t>(found - owner->Tags.data());
  ACMFORMATTAGDETAILS d;
  d.cbStruct = sizeof(ACMFORMATTAGDETAILS);
  d.dwFormatTagIndex = index;
  d.dwFormatTag = found->Tag;
  d.cbFormatSize = found->FormatSize;
  d.fdwSupport = owner->Support;
  CopyText(d.szFormatTag, sizeof d.szFormatTag, found->Name);
  *paftd = d;
  return MMSYSERR_NOERROR;
}

MMRESULT acmMetrics(const void* hao, uint32_t uMetric, uint32_t* pMetric) {
  if (hao) return MMSYSERR_INVALHANDLE;
  if (!pMetric) return MMSYSERR_INVALPARAM;
  const auto& entries = Table().Entries;
  switch (uMetric) {
    case ACM_METRIC_MAX_SIZE_FORMAT: {
      uint32_t largest = TFormatBlock::kHeaderSize;
      for (const auto* e : entries)
        for (const auto& t : e->Tags) largest = std::max(largest, t.FormatSize);
      *pMetric = largest;
      return MMSYSERR_NOERROR;
    }
    case ACM_METRIC_COUNT_DRIVERS:
      *pMetric = static_cast<uint32_t>(entries.size());
      return MMSYSERR_NOERROR;
    case ACM_METRIC_COUNT_CODECS:
      *pMetric = static_cast<uint32_t>(std::count_if(entries.begin(), entries.end(), [](const TACMDriverEntry* e) {
        return (e->Support & ACMDRIVERDETAILS_SUPPORTF_CODEC) != 0;
      }));
      return MMSYSERR_NOERROR;
    default:
      return MMSYSERR_INVALPARAM;
  }
}

MMRESULT acmFormatSuggest(HACMDRIVER had, const TFormatBlock& pwfxSrc, TFormatBlock& pwfxDst, uint32_t cbwfxDst,
                          uint32_t fdwSuggest) {
  if (had && !KnownHandle(had)) return MMSYSERR_INVALHANDLE;
  constexpr uint32_t known = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                             ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
  if (fdwSuggest & ~known) return MMSYSERR_INVALFLAG;
  if (cbwfxDst < TFormatBlock::kHeaderSize || cbwfxDst > pwfxDst.Size() || !pwfxSrc.Complete())
    return MMSYSERR_INVALPARAM;
  for (const auto* e : Candidates(had)) {
    if (!ListsTag(*e, pwfxSrc.wFormatTag())) continue;
    TFormatBlock out;
    if (e->Suggest(pwfxSrc, pwfxDst, fdwSuggest, &out) != MMSYSERR_NOERROR) continue;
    auto bytes = pwfxDst.MutableData();
    std::fill_n(bytes.begin(), cbwfxDst, uint8_t(0));
    std::copy_n(out.Data().begin(), std::min<size_t>(out.Size(), cbwfxDst), bytes.begin());
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

// ---------------------------------------------------------------- streams

class TACMStream {
 public:
  struct TPrepared {
    ACMSTREAMHEADER* Header;
    uint8_t* Src;
    uint32_t SrcLength;
    uint8_t* Dst;
    uint32_t DstLength;
  };

  std::unique_ptr<TACMCodec> Codec;
  TFormatBlock Src;
  TFormatBlock Dst;
  std::vector<TPrepared> Prepared;
  size_t DstAlign = 1;  // bytes of one destination frame
  bool Ended = false;
  MMRESULT EndResult = MMSYSERR_NOERROR;

  TPrepared* Find(const ACMSTREAMHEADER* h) {
    for (auto& p : Prepared)
      if (p.Header == h) return &p;
    return nullptr;
  }
};

void TACMStreamDeleter::operator()(TACMStream* stream) const noexcept { delete stream; }

MMRESULT acmStreamOpen(HACMSTREAM* phas, HACMDRIVER had, const TFormatBlock& pwfxSrc, const TFormatBlock& pwfxDst,
                       const void* pwfltr, uintptr_t dwCallback, uintptr_t /*dwInstance*/, uint32_t fdwOpen) {
  if (phas) phas->reset();
  if (had && !KnownHandle(had)) return MMSYSERR_INVALHANDLE;
  constexpr uint32_t known = ACM_STREAMOPENF_QUERY | ACM_STREAMOPENF_ASYNC | ACM_STREAMOPENF_NONREALTIME;
  if ((fdwOpen & ~known) || (fdwOpen & ACM_STREAMOPENF_ASYNC)) return MMSYSERR_INVALFLAG;
  const bool query = (fdwOpen & ACM_STREAMOPENF_QUERY) != 0;
  if (dwCallback != 0 || (!query && !phas) || !pwfxSrc.Complete() || !pwfxDst.Complete()) return MMSYSERR_INVALPARAM;
  if (pwfltr) return ACMERR_NOTPOSSIBLE;  // no filters
  for (const auto* e : Candidates(had)) {
    if (!ListsTag(*e, pwfxSrc.wFormatTag())) continue;
    std::unique_ptr<TACMCodec> codec;
    if (e->Open(pwfxSrc, pwfxDst, query ? nullptr : &codec) != MMSYSERR_NOERROR) continue;
    if (query) return MMSYSERR_NOERROR;
    auto stream = std::make_unique<TACMStream>();
    stream->Codec = std::move(codec);
    stream->Src = pwfxSrc;
    stream->Dst = pwfxDst;
    TPcmShape shape;
    if (ShapeOfFormat(pwfxDst, &shape)) stream->DstAlign = shape.FrameBytes();
    phas->reset(stream.release());
    return MMSYSERR_NOERROR;
  }
  return ACMERR_NOTPOSSIBLE;
}

MMRESULT acmStreamClose(HACMSTREAM& has, uint32_t fdwClose) {
  if (!has) return MMSYSERR_INVALHANDLE;
  if (fdwClose != 0) return MMSYSERR_INVALFLAG;
  has.reset();
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamSize(const HACMSTREAM& has, uint32_t cbInput, uint32_t* pdwOutputBytes, uint32_t fdwSize) {
  if (!has) return MMSYSERR_INVALHANDLE;
  if (!pdwOutputBytes) return MMSYSERR_INVALPARAM;
  *pdwOutputBytes = 0;
  uint64_t n;
  if (fdwSize == ACM_STREAMSIZEF_SOURCE) {
    if (cbInput == 0) return MMSYSERR_INVALPARAM;
    const uint64_t align = has->DstAlign;
    n = has->Codec->OutputBound(cbInput);
    n = std::max<uint64_t>(n, align);
    n += (align - n % align) % align;
  } else if (fdwSize == ACM_STREAMSIZEF_DESTINATION) {
    if (cbInput == 0) return MMSYSERR_INVALPARAM;
    n = std::max<uint64_t>(has->Codec->SourceFor(cbInput), 1);
  } else {
    return MMSYSERR_INVALFLAG;
  }
  // Buffers are sized from this: keep it within what a 32-bit length holds
  // and far from what a hostile header could ask for.
  constexpr uint64_t kLimit = 64u << 20;
  *pdwOutputBytes = static_cast<uint32_t>(std::min(n, kLimit));
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamPrepareHeader(const HACMSTREAM& has, ACMSTREAMHEADER* pash, uint32_t fdwPrepare) {
  if (!has) return MMSYSERR_INVALHANDLE;
  if (fdwPrepare != 0) return MMSYSERR_INVALFLAG;
  if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  if ((pash->cbSrcLength > 0 && !pash->pbSrc) || !pash->pbDst || pash->cbDstLength == 0) return MMSYSERR_INVALPARAM;
  if (has->Find(pash)) return MMSYSERR_NOERROR;  // already prepared
  has->Prepared.push_back({pash, pash->pbSrc, pash->cbSrcLength, pash->pbDst, pash->cbDstLength});
  pash->fdwStatus = (pash->fdwStatus & ~ACMSTREAMHEADER_STATUSF_DONE) | ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamUnprepareHeader(const HACMSTREAM& has, ACMSTREAMHEADER* pash, uint32_t fdwUnprepare) {
  if (!has) return MMSYSERR_INVALHANDLE;
  if (fdwUnprepare != 0) return MMSYSERR_INVALFLAG;
  if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  auto& list = has->Prepared;
  auto it = std::find_if(list.begin(), list.end(), [&](const TACMStream::TPrepared& p) { return p.Header == pash; });
  if (it == list.end()) return MMSYSERR_INVALPARAM;
  list.erase(it);
  pash->fdwStatus &= ~ACMSTREAMHEADER_STATUSF_PREPARED;
  return MMSYSERR_NOERROR;
}

MMRESULT acmStreamConvert(const HACMSTREAM& has, ACMSTREAMHEADER* pash, uint32_t fdwConvert) {
  if (!has) return MMSYSERR_INVALHANDLE;
  constexpr uint32_t known = ACM_STREAMCONVERTF_BLOCKALIGN | ACM_STREAMCONVERTF_START | ACM_STREAMCONVERTF_END;
  if (fdwConvert & ~known) return MMSYSERR_INVALFLAG;
  if (!pash || pash->cbStruct != sizeof(ACMSTREAMHEADER)) return MMSYSERR_INVALPARAM;
  TACMStream::TPrepared* prepared = has->Find(pash);
  // The buffers must be the ones the header was prepared with.
  if (!prepared || pash->pbSrc != prepared->Src || pash->cbSrcLength > prepared->SrcLength ||
      pash->pbDst != prepared->Dst || pash->cbDstLength > prepared->DstLength)
    return MMSYSERR_INVALPARAM;
  pash->cbSrcLengthUsed = 0;
  pash->cbDstLengthUsed = 0;
  const bool end = (fdwConvert & ACM_STREAMCONVERTF_END) != 0;
  if (has->Ended && pash->cbSrcLength > 0) return MMSYSERR_INVALPARAM;  // nothing may follow the end
  MMRESULT result = MMSYSERR_NOERROR;
  if (!has->Ended && (pash->cbSrcLength > 0 || end)) {
    result = has->Codec->Convert({pash->pbSrc, pash->cbSrcLength}, end);
    pash->cbSrcLengthUsed = pash->cbSrcLength;
    if (end) {
      has->Ended = true;
      has->EndResult = result;
    }
  }
  pash->cbDstLengthUsed =
      static_cast<uint32_t>(has->Codec->Output().Take(pash->pbDst, pash->cbDstLength, has->DstAlign));
  pash->fdwStatus |= ACMSTREAMHEADER_STATUSF_DONE;
  return result;
}

uint32_t acmStreamSkipped(const HACMSTREAM& has) { return has ? has->Codec->Skipped() : 0; }

}  // namespace cv
