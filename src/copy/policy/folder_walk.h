#pragma once

#include "copy/policy/file_writer.h"
#include "platform/file_primitives.h"

namespace salvatrix {

/// Copies everything inside the source folder top into the destination folder into (both
/// open): files and sub-folders, creating or merging. Inside, a link is followed only to what
/// lies inside top; a link back up to a folder on the way down (a cycle), FIFOs, sockets,
/// devices and dangling links are skipped. Stops at the first failure; what was copied before
/// stays.
void CopyTree(FileWriter& writer, SourceFolder& top, DestinationFolder& into, bool overwrite);

}  // namespace salvatrix
