#pragma once
// The engine's public surface: the little-endian integer helpers the table
// files are read and written with, for tools that lay out bytes of their own
// (sound and picture blocks) the same way.
#include "engine/files/byte_order.h"
