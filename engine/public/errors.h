#pragma once
// The engine's public surface: its failures. Every engine failure reaches its
// users as an ELedgerEngineError carrying one of these codes.
//
// Code outside the engine (its components, the tools, the benchmarks)
// includes engine/public/ only; the headers below are the engine's own.
#include "engine/errors/ledger_error.h"
