#include "content/data_module.h"

namespace content {

TDataModule1::TDataModule1(toolkit::Application&)
    : TDataModule("DataModule1"),
      dbConson(this),
      dbBlend(this),
      dbSndFx(this),
      dbLVowel(this),
      dbSVowel(this),
      dsConson(&dbConson),
      dsBlend(&dbBlend),
      dsSndFx(&dbSndFx),
      dsLVowel(&dbLVowel),
      dsSVowel(&dbSVowel) {
  dbConson.SetTableName("Conson");
  dbBlend.SetTableName("Blend");
  dbSndFx.SetTableName("SndFx");
  dbLVowel.SetTableName("LVowel");
  dbSVowel.SetTableName("SVowel");
}

}  // namespace content
