// The builder from definition to finished table: records appended with their
// keys and blobs, deletions marked, and the parts written out in order.

#include "engine/build/table_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/build/table_builder_state.h"
#include "engine/files/byte_order.h"
#include "engine/files/scramble.h"

namespace ledger {

TTableBuilder::TTableBuilder(std::string directory, std::string table, TTableDefinition definition,
                             TBuildTarget target, std::shared_ptr<TFileSystem> system)
    : state_(std::make_unique<TState>(std::move(directory), std::move(table), std::move(definition), target,
                                      std::move(system))) {
  TState& s = *state_;
  if (!(s.def.fillFactor > 0.0 && s.def.fillFactor <= 1.0))
    throw std::invalid_argument("fill factor must lie in (0, 1]");
  s.owner.hasPrimaryIndex = s.def.primary.has_value();
  s.encrypted = s.def.data.encrypted;
  s.data.SetFileName(s.TempName(".DAT"));
  s.data.SetErrorContext(s.table, s.directory);
  s.data.Create(s.def.data);
  try {
    s.fields = s.data.Fields();
    s.lcid = s.data.LocaleId();
    s.recordSize = s.data.RecordSize();
    s.dataStart = s.data.DataStart();
    s.hasBlobs = s.data.BlobFieldCount() > 0;
    s.blockSize = s.data.BlobBlockSize();
    if (s.blockSize <= kBlockHeaderSize) throw std::invalid_argument("blob block size too small");
    s.DefineIndexes();
    s.keyOrdered = s.def.primary && s.def.order == TRecordOrder::PrimaryKey;
    if (s.keyOrdered) {
      s.spill.SetFileName(s.FinalName(".DAT") + ".records" + kBuildSuffix);
      s.spill.SetSystem(s.system);
      s.spill.SetErrorContext(s.table, s.directory);
      s.spill.SetTemporary(true);  // gone when closed, whatever happens
      s.spill.Create();
    }
    if (s.target == TBuildTarget::InPlace) s.ContinueBlobIds();
    s.index.SetFileName(s.TempName(".IDX"));
    s.index.SetErrorContext(s.table, s.directory);
    s.index.Create();
    if (s.hasBlobs) {
      s.blob.SetFileName(s.TempName(".BLB"));
      s.blob.SetErrorContext(s.table, s.directory);
      s.blob.Create();
    }
  } catch (...) {
    s.CloseAll();
    s.RemoveTemporaries();
    throw;
  }
}

TTableBuilder::~TTableBuilder() {
  if (!state_->finished) {
    try {
      state_->CloseAll();
    } catch (...) {
    }
    state_->RemoveTemporaries();
  }
}

int32_t TTableBuilder::RecordCount() const noexcept { return state_->records; }

int32_t TTableBuilder::Append(std::span<const TFieldValue> values, std::span<const TBlobSource> blobs) {
  TState& s = *state_;
  if (s.finished) throw std::logic_error("table already finished");
  if (values.size() != s.fields.size()) throw std::invalid_argument("one value per field expected");
  if (s.records >= kMaxRecords ||
      s.dataStart + static_cast<uint64_t>(s.records + 1) * s.recordSize > 4000000000ULL)
    s.Fail(LEDGER_TABLEFULL);
  for (const TBlobSource& b : blobs)
    if (b.field < 1 || b.field > static_cast<int>(s.fields.size()) || s.fields[b.field - 1].type != ftBlob || !b.read)
      throw std::invalid_argument("a blob source must name a blob field and give a reader");
  const int32_t number = s.records + 1;
  const int32_t nextBlock = s.nextBlock, lastBlobId = s.lastBlobId;
  const std::size_t blobBuffered = s.blobBuffer.size();
  std::size_t at = s.recordBuffer.size();
  s.recordBuffer.resize(at + s.recordSize, 0);
  std::span<uint8_t> image(s.recordBuffer.data() + at, s.recordSize);
  try {
    PutI32(image.data(), record_image::kLink, number);
    PutI32(image.data(), kAutoIncOffset, number);
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
      const TFieldDesc& f = s.fields[i];
      if (f.IsAutoInc() || f.type == ftBlob) continue;
      WriteValue(image, f, values[i], s.lcid);
    }
    // Blobs last, so a bad value above leaves no orphaned chain behind.
    for (std::size_t i = 0; i < s.fields.size(); ++i) {
      const TFieldDesc& f = s.fields[i];
      if (f.type != ftBlob) continue;
      const TFieldValue& v = values[i];
      auto fromMemory = [&s](const uint8_t* data, std::size_t size) {
        std::size_t pos = 0;
        return s.WriteBlob(size, [&](uint8_t* out, std::size_t count) {
          std::size_t n = std::min(count, size - pos);
          std::memcpy(out, data + pos, n);
          pos += n;
          return n;
        });
      };
      TBlobRef ref;
      auto source = std::find_if(blobs.begin(), blobs.end(),
                                 [i](const TBlobSource& b) { return b.field == static_cast<int>(i) + 1; });
      if (source != blobs.end()) {
        ref = s.WriteBlob(source->size, source->read);
      } else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&v)) {
        ref = fromMemory(bytes->data(), bytes->size());
      } else if (const auto* text = std::get_if<std::string>(&v)) {
        ref = fromMemory(reinterpret_cast<const uint8_t*>(text->data()), text->size());
      } else if (!std::holds_alternative<std::monostate>(v)) {
        throw std::invalid_argument("field " + f.name + " takes its contents as bytes");
      }
      WriteValue(image, f, ref, s.lcid);
    }
  } catch (...) {
    s.recordBuffer.resize(at);
    // Blocks still in memory are taken back; flushed ones stay unreferenced.
    if (s.firstBufferedBlock <= nextBlock) {
      s.blobBuffer.resize(blobBuffered);
      s.nextBlock = nextBlock;
      s.lastBlobId = lastBlobId;
    }
    throw;
  }
  for (TIndexBuild& index : s.indexes) {
    std::size_t k = index.keys.size();
    index.keys.resize(k + index.stride);
    index.keyDef.Build(image, index.keys.data() + k);
    PutI32(index.keys.data() + k, index.desc.keyLength, number);
  }
  if (s.encrypted) Scramble(image.data(), image.size(), kRecordKey);
  s.records = number;
  s.deleted.push_back(0);
  if (s.recordBuffer.size() >= kWriteChunk) s.FlushRecords();
  if (s.hasBlobs && s.blobBuffer.size() >= kWriteChunk) s.FlushBlocks();
  return number;
}

void TTableBuilder::MarkDeleted(int32_t appendNumber) {
  TState& s = *state_;
  if (s.finished) throw std::logic_error("table already finished");
  if (appendNumber < 1 || appendNumber > s.records) throw std::out_of_range("no such record");
  if (s.deleted[appendNumber - 1]) throw std::invalid_argument("record already deleted");
  s.deleted[appendNumber - 1] = 1;
  s.deletionOrder.push_back(appendNumber);
}

void TTableBuilder::Finish() {
  TState& s = *state_;
  if (s.finished) throw std::logic_error("table already finished");
  try {
    // Every unique index is sorted and checked before the table is committed.
    std::vector<std::vector<const uint8_t*>> sorted;
    for (const TIndexBuild& index : s.indexes) sorted.push_back(s.SortedEntries(index));
    s.FlushRecords();
    if (s.hasBlobs) {
      s.FlushBlocks();
      s.WriteBlobHeader();
    }
    if (s.keyOrdered) s.PlaceInKeyOrder(sorted);
    s.ApplyDeletions();
    s.WriteIndexFile(sorted);
    s.CloseAll();
    if (s.target == TBuildTarget::InPlace) {
      s.RewriteInPlace();
    } else {
      s.ReplaceFiles();
    }
  } catch (...) {
    s.CloseAll();
    s.RemoveTemporaries();
    s.finished = true;
    throw;
  }
  if (s.target == TBuildTarget::InPlace) s.RemoveTemporaries();
  s.finished = true;
}

}  // namespace ledger
