#pragma once
// The engine's public surface: what tables are made of. Field types,
// descriptors and values (TFieldDesc, TFieldValue, TBcd, TBlobRef), index
// descriptors (TIndexDesc), and the limits on both (kMaxFields,
// kMaxKeyFields, ...).
//
// The byte layouts that come along with them are the file layer's business.
#include "engine/files/data_header.h"
#include "engine/files/index_header.h"
#include "engine/files/value.h"
