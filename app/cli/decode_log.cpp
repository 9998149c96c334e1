// The decoder's diagnostic lines (codec warnings) go to standard error in
// the command-line tool, so that standard output (JSON, say) stays clean;
// only with --verbose: a warning such as "No capable filter found" is the
// decoder's ordinary way to a second conversion path, not a fault.
#include <iostream>

#include "app/cli/cli.h"
#include "decode/cvAudFiles.h"

namespace {

const bool kLogToStderr = [] {
  cv::TAudioFile::SetLogSink([](const std::string& line) {
    if (cli::Verbose()) std::cerr << line << '\n';
  });
  return true;
}();

}  // namespace
