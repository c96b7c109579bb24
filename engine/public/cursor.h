#pragma once
// The engine's public surface: reading and writing tables. An engine session
// (TDataSession) holds the settings and the open directories
// (TDataDirectory); a cursor (TDataCursor) is one view of a table, with its
// index, position, record images and open blobs, and answers the status
// codes kStatusOk, kStatusBeginning, kStatusEnd and kStatusNoCurrentRecord.
#include "engine/core/data_cursor.h"
#include "engine/core/data_directory.h"
#include "engine/core/data_session.h"
#include "engine/public/errors.h"
#include "engine/public/schema.h"
