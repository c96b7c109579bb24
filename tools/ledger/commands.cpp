#include "tools/ledger/commands.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "engine/public/errors.h"
#include "tools/ledger/read_verbs.h"
#include "tools/ledger/record_json.h"
#include "tools/ledger/schema.h"
#include "tools/ledger/table_bridge.h"

namespace ledger::tool {

const char* const kHelpText =
    "usage: ledger VERB ARGUMENTS\n"
    "\n"
    "  ledger check DIR TABLE\n"
    "      Opens the data, index and blob files of TABLE in DIR, runs every header\n"
    "      and structure check, then walks every index (keys in order, branch counts,\n"
    "      leaf chain both ways, live record numbers) and every blob chain.\n"
    "      Prints \"ok\", or the engine error or the first inconsistency found.\n"
    "\n"
    "  ledger create DIR TABLE --schema FILE [--order key|input]\n"
    "      Builds TABLE in DIR from the JSON schema in FILE and one JSON record per\n"
    "      line on standard input. Refuses to overwrite an existing table. With a\n"
    "      primary key the records are stored in key order, so a scan in key order\n"
    "      reads the file front to back; --order input keeps the input order.\n"
    "      Schema: {\"fields\": [{\"name\": \"Word\", \"type\": \"string\", \"size\": 20},\n"
    "               {\"name\": \"Picture\", \"type\": \"blob\", \"subtype\": \"graphic\"}],\n"
    "               \"primary\": {\"fields\": [\"Word\"], \"compression\": 0,\n"
    "                           \"case_insensitive\": false, \"descending\": []},\n"
    "               \"block_size\": 512, \"locale\": 0, \"description\": \"\"}\n"
    "      Types: string (size), bytes (size), bcd (scale), date,\n"
    "      time, timestamp, boolean, smallint, integer, autoinc, word, cardinal,\n"
    "      largeint, float, money, blob (subtype memo, binary, formatted, ole,\n"
    "      graphic or typed).\n"
    "      Record: {\"Word\": \"cat\", \"Picture\": {\"base64\": \"...\"}, \"Note\": null}\n"
    "      A blob or bytes value is {\"base64\": ...}, {\"file\": \"path\"} or text;\n"
    "      strings longer than their size are refused; autoinc fields are left out;\n"
    "      dates, times and timestamps are ISO 8601 text (2024-05-31, 13:45:00.250,\n"
    "      2024-05-31T13:45:00); a missing field is null; \"_deleted\": true stores\n"
    "      the record and then deletes it. Progress goes to standard error.\n"
    "\n"
    "  ledger info DIR TABLE\n"
    "      Shows the table as JSON: description, locale, record count, fields\n"
    "      (name, type, subtype, size, required), indexes (fields and flags),\n"
    "      blob block size and whether it is encrypted.\n"
    "\n"
    "  ledger dump DIR TABLE [--index NAME]\n"
    "      One JSON object per line per record, in the order of the primary index\n"
    "      or of index NAME: \"recno\" (the record's position), then every field by\n"
    "      name. Values take the forms create reads (bytes as {\"base64\": ...},\n"
    "      decimals as text, dates and times as ISO 8601 text), so create can build\n"
    "      the table again from a dump without \"recno\", autoinc and blob fields.\n"
    "      A blob shows as {\"size\": N, \"crc32\": \"8 hex digits\"}; a float JSON\n"
    "      cannot hold as \"NaN\", \"Infinity\" or \"-Infinity\"; a date or time no\n"
    "      text stands for as its stored number. A field called \"recno\" moves\n"
    "      the position to \"_recno\".\n"
    "\n"
    "  ledger get DIR TABLE N [--index NAME]\n"
    "      The record at position N (from 1), as dump shows it.\n"
    "\n"
    "  ledger find DIR TABLE VALUE... [--index NAME]\n"
    "      Looks up the key on the index, one VALUE per leading key field, each\n"
    "      written as for create (true, 42, 1.5, 2024-05-31, text); prints the\n"
    "      record as dump shows it, or \"not found\" on standard error.\n"
    "      \"--\" ends the options, for values beginning with \"--\".\n"
    "\n"
    "  ledger blob DIR TABLE N FIELD [--index NAME]\n"
    "      Writes the bytes of blob FIELD of the record at position N to standard\n"
    "      output; nothing for a null blob.\n"
    "\n"
    "  ledger --help\n"
    "\n"
    "Exit status: 0 ok, 1 no such record (get, find, blob), 2 engine error,\n"
    "inconsistency or bad input, 64 usage.\n";

namespace {

int Usage(std::ostream& err, const std::string& why) {
  err << "ledger: " << why << "\n" << kHelpText;
  return kExitUsage;
}

int Check(const std::string& dir, const std::string& table, std::ostream& out) {
  std::string verdict = CheckTable(dir, table);
  out << verdict << "\n";
  return verdict == "ok" ? kExitOk : kExitFailed;
}

int Create(const std::string& dir, const std::string& table, const std::string& schemaPath,
           bool inputOrder, std::istream& in, std::ostream& err) {
  std::ifstream schemaFile(schemaPath, std::ios::binary);
  if (!schemaFile) {
    err << "ledger: cannot read the schema file \"" << schemaPath << "\"\n";
    return kExitFailed;
  }
  std::stringstream schemaText;
  schemaText << schemaFile.rdbuf();
  TTableSchema schema = ParseSchemaText(schemaText.str());

  for (const char* ext : {".DAT", ".IDX", ".BLB"}) {
    std::filesystem::path p = std::filesystem::path(dir) / (table + ext);
    std::error_code ec;
    if (std::filesystem::exists(p, ec)) {
      err << "ledger: " << p.string() << " exists; remove the table first\n";
      return kExitFailed;
    }
  }

  int64_t lineNumber = 0;
  int64_t records = 0;
  bool progressShown = false;
  std::string line;
  TRecordSource next = [&](TJsonRecord& record) {
    while (std::getline(in, line)) {
      ++lineNumber;
      if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
      try {
        nlohmann::json j = nlohmann::json::parse(line);
        record = ParseRecord(j, schema);
      } catch (const nlohmann::json::exception& e) {
        throw EInputError("line " + std::to_string(lineNumber) + ": not valid JSON");
      } catch (const EInputError& e) {
        throw EInputError("line " + std::to_string(lineNumber) + ": " + e.what());
      }
      if (++records % kProgressEvery == 0) {
        err << "ledger: " << records << " records read\n" << std::flush;
        progressShown = true;
      }
      return true;
    }
    return false;
  };
  int64_t stored = BuildTable(dir, table, schema, next, inputOrder);
  if (progressShown) err << "ledger: " << stored << " records stored\n";
  return kExitOk;
}

}  // namespace

int RunLedger(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err) {
  if (args.empty()) return Usage(err, "no verb given");
  const std::string& verb = args[0];
  if (verb == "--help" || verb == "-h" || verb == "help") {
    out << kHelpText;
    return kExitOk;
  }
  try {
    if (verb == "check") {
      if (args.size() != 3) return Usage(err, "check takes DIR TABLE");
      return Check(args[1], args[2], out);
    }
    if (verb == "create") {
      std::vector<std::string> positional;
      std::string schemaPath;
      bool haveSchema = false;
      std::string order = "key";
      for (std::size_t i = 1; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--order" || a.rfind("--order=", 0) == 0) {
          if (a == "--order" && i + 1 >= args.size()) return Usage(err, "--order needs key or input");
          order = a == "--order" ? args[++i] : a.substr(8);
          if (order != "key" && order != "input") return Usage(err, "--order takes key or input");
        } else if (a == "--schema") {
          if (i + 1 >= args.size()) return Usage(err, "--schema needs a file");
          schemaPath = args[++i];
          haveSchema = true;
        } else if (a.rfind("--schema=", 0) == 0) {
          schemaPath = a.substr(9);
          haveSchema = true;
        } else if (a.rfind("--", 0) == 0) {
          return Usage(err, "unknown option " + a);
        } else {
          positional.push_back(a);
        }
      }
      if (positional.size() != 2 || !haveSchema || schemaPath.empty())
        return Usage(err, "create takes DIR TABLE --schema FILE [--order key|input]");
      return Create(positional[0], positional[1], schemaPath, order == "input", in, err);
    }
    if (IsReadVerb(verb)) return RunReadVerb(args, out, err);
    return Usage(err, "unknown verb \"" + verb + "\"");
  } catch (const EUsageError& e) {
    return Usage(err, e.what());
  } catch (const ELedgerEngineError& e) {
    err << e.what() << "\n";
  } catch (const EInputError& e) {
    err << "ledger: " << e.what() << "\n";
  } catch (const std::exception& e) {
    err << "ledger: " << e.what() << "\n";
  }
  return kExitFailed;
}

}  // namespace ledger::tool
