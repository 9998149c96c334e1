#include "device/cvWritePage.h"

#include <algorithm>
#include <span>

#include "device/cvSCSILib.h"

namespace cv {

TWritePageImage TWritePage::Image() const {
  TWritePageImage page{};
  page[0] = kWriteParametersPage;
  page[2] = static_cast<std::uint8_t>((BufferUnderrunFree ? 0x40 : 0) | (TestWrite ? 0x10 : 0) | (WriteType & 0x0F));
  page[3] = static_cast<std::uint8_t>((MultiSession & 0x03) << 6 | (TrackMode & 0x0F));
  page[4] = DataBlockType & 0x0F;
  page[8] = SessionFormat;
  page[14] = static_cast<std::uint8_t>(AudioPauseLength >> 8);
  page[15] = static_cast<std::uint8_t>(AudioPauseLength);
  return page;
}

bool SendWritePage(TSCSIDevice& Device, const TWritePageImage& image, std::uint8_t minPageLength) {
  constexpr std::uint16_t kSenseLength = 512;
  Device.WritePage.fill(0);
  std::span<std::uint8_t> reply = std::span(Device.Buffer).first(kSenseLength);
  if (!Device.ModeSense10(reply, kSenseLength, kWriteParametersPage, false)) return false;

  // The PS bit (7) is not part of the page code.
  const std::size_t at = (reply[8] & 0x3F) == kWriteParametersPage ? 8 : 16;
  if ((reply[at] & 0x3F) != kWriteParametersPage) return false;
  const std::uint8_t pageLength = reply[at + 1];
  if (pageLength < minPageLength) return false;

  Device.WritePage = image;
  Device.WritePage[0] = kWriteParametersPage;
  Device.WritePage[1] = pageLength;
  // The drive's page is pageLength + 2 bytes (at most 16 + 257 bytes into
  // the 512-byte reply); the image covers at most its first 72.
  const std::size_t copy = std::min<std::size_t>(pageLength, Device.WritePage.size());
  std::copy_n(Device.WritePage.begin(), copy, reply.begin() + static_cast<std::ptrdiff_t>(at));
  const auto total = static_cast<std::uint16_t>(at + pageLength + 2);
  return Device.ModeSelect10(reply.first(total), total);
}

}  // namespace cv
