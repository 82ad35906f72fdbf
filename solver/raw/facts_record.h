// The FACTS device record (raw.h's FactsDevice), read by the layout of the
// file's revision.
#pragma once

#include "raw/fields.h"
#include "raw/raw.h"

namespace rawread {

// One FACTS device record. MODE 0 is read past and counted for the
// section's note; MODE 1 to 3 (1 alone where J = 0, a STATCOM) is kept;
// any other mode, a series mode without a J bus, a negative SHMX or a name
// given twice is an InputError naming the device.
void read_facts(Reader &r, const RecordLine &l, RawCase &c);

} // namespace rawread
