#pragma once
// Files: the core library's static document operations, one header per job.
// This header only gathers them for code that uses many; include the part you
// need where that is all.
#include "core/DocumentPlace.hpp"
#include "core/DocumentRead.hpp"
#include "core/FileLimits.hpp"
#include "core/FolderListing.hpp"
#include "core/InterruptedSaves.hpp"
#include "core/PathRules.hpp"
#include "core/RequestBody.hpp"
#include "core/SafeSave.hpp"
#include "core/TemporarySweep.hpp"
