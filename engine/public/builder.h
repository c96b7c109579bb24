#pragma once
// The engine's public surface: making and checking tables. TTableBuilder
// writes a whole table, its indexes and blobs from a definition
// (TTableDefinition, its data file part a TDataFileDefinition) and the
// records it is given; TTableVerifier walks one on disk and reports the
// first inconsistency.
#include "engine/build/table_builder.h"
#include "engine/build/table_verifier.h"
#include "engine/public/errors.h"
#include "engine/public/schema.h"
