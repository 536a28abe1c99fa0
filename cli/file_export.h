// `export` and `merge`: the configuration window's production file and merge,
// for build pipelines. Neither needs a programmer.
#pragma once

#include "cli/cli.h"

namespace qrv::cli {

Command ExportCommand();
Command MergeCommand();

}  // namespace qrv::cli
