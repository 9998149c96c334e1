// The run-time I/O error: raised by checked file operations, carrying the
// error number (an errno value) in a message "I/O error %d".
#pragma once

#include <stdexcept>
#include <string>

namespace cv {

class EInOutError : public std::runtime_error {
 public:
  explicit EInOutError(int errorCode)
      : std::runtime_error("I/O error " + std::to_string(errorCode)), ErrorCode(errorCode) {}
  EInOutError(int errorCode, const std::string& path)
      : std::runtime_error("I/O error " + std::to_string(errorCode)), ErrorCode(errorCode), Path(path) {}

  int ErrorCode;
  std::string Path;  // the file concerned, when known
};

}  // namespace cv
