// A library is not one recording: the files of a folder given with -o may
// mix sample rates and channel counts, which one stream cannot carry (the
// engine's state and delay belong to one format). Such a set is played as
// consecutive sets, one for each stretch of files that share them.
#pragma once

#include <vector>

#include "host/dsphost_options.h"

// The runs for these options: one (the options themselves) unless a folder
// among the inputs brought files of more than one format. Each later run's
// report and plot get "-2", "-3"... before their extension. 0, or 1 after a
// message when an input cannot be read.
int split_by_format(const Options& options, std::vector<Options>& runs);
