#pragma once
// The engine's public surface: one table's files read directly, without a
// session. For what measures or reports the files themselves: the index
// benchmark searches a TIndexFile and reads records through a TDataFile, and
// the table tool shows a data file header's settings (description, locale,
// block size, encryption) of a table a cursor has open.
#include "engine/files/data_file.h"
#include "engine/files/index_file.h"
#include "engine/public/errors.h"
#include "engine/public/schema.h"
