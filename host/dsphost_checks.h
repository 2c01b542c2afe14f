// dsphost's checks before anything is written: inputs readable and of one
// format, outputs that overwrite nothing they must not, writable folders.
#pragma once

#include "host/dsphost_options.h"
#include "host/dsphost_stream.h"

// Opens every input (a pipe stays open in its item), sets the run's rate and
// channel count; 0 when all is well, else the exit status after a message.
int check_inputs(Run& run, const Options& options);
