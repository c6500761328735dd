#pragma once

// Included by every engine header that brings in FFmpeg: window code sees a
// job through engine/MixJob.h and the job-control headers only.
#ifdef MELVORA_WINDOW_CODE
#error "An FFmpeg header reached window code; include engine/MixJob.h instead."
#endif
