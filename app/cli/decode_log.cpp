// The decoder's diagnostic lines (codec warnings) go to standard error in
// the command-line tool, so that standard output (JSON, say) stays clean.
#include <iostream>

#include "decode/cvAudFiles.h"

namespace {

const bool kLogToStderr = [] {
  cv::TAudioFile::SetLogSink([](const std::string& line) { std::cerr << line << '\n'; });
  return true;
}();

}  // namespace
