#include "tools/reference-service/demo_seed.h"

#include <optional>
#include <string>
#include <vector>

#include "tools/reference-service/ids.h"
#include "tools/reference-service/items.h"
#include "tools/reference-service/names.h"
#include "tools/reference-service/sample_documents.h"

namespace ostrel::refsvc {

namespace {

using Lines = std::vector<std::string>;

// Builds the demo tree inside one transaction. The first failure is kept
// and every later step does nothing; finish() reports it.
class Seeder {
 public:
  Seeder(Database& db, const BlobStore& blobs, Micros now) : db_(db), blobs_(blobs), now_(now) {}

  ItemRow matter(const std::string& name, bool closed, bool member, double daysAgo) {
    if (failed()) return {};
    ItemRow row = base(Kind::matter, member ? "my-matters" : "admin-all", name, daysAgo);
    row.matter = row.id;
    check(db_.run("INSERT INTO matters(id, closed, member) VALUES(?, ?, ?)", row.id, closed, member));
    insert(row);
    return reread(row.id);
  }

  ItemRow folder(const ItemRow& parent, const std::string& name, double daysAgo) {
    return child(Kind::folder, parent, name, daysAgo);
  }

  ItemRow document(const ItemRow& parent, const std::string& name, double daysAgo) {
    return child(Kind::document, parent, name, daysAgo);
  }

  // Groupings of filed records and precedents under a matter, and version
  // folders under a document.
  ItemRow grouping(Kind kind, const ItemRow& parent, const std::string& name, double daysAgo) {
    return child(kind, parent, name, daysAgo);
  }

  ItemRow version(const ItemRow& document, const std::string& bytes, double daysAgo,
                  std::optional<std::string> comment = std::nullopt, std::vector<std::string> tags = {}) {
    if (failed()) return {};
    auto number = nextOrdinal(db_, document.id, Kind::version);
    if (!check(number)) return {};
    ItemRow row = file(Kind::version, document, versionFilename(document.filename, *number), bytes, daysAgo);
    row.id = std::string(prefixOf(Kind::version)) + newUuid();
    row.ordinal = *number;
    row.comment = std::move(comment);
    row.tags = std::move(tags);
    insert(row);
    return row;
  }

  ItemRow draft(const ItemRow& document, const std::string& bytes, std::optional<std::string> baseVersion,
                double daysAgo) {
    ItemRow container = holder(Kind::drafts, document, "Drafts", daysAgo);
    if (failed()) return {};
    auto number = nextOrdinal(db_, container.id, Kind::draft);
    if (!check(number)) return {};
    ItemRow row = file(Kind::draft, container,
                       draftFilename(document.filename, *number, document.filename), bytes, daysAgo);
    if (!assignId(row)) return {};
    row.ordinal = *number;
    row.baseVersion = std::move(baseVersion);
    insert(row);
    return row;
  }

  ItemRow save(const ItemRow& document, const std::string& bytes, double daysAgo) {
    ItemRow container = holder(Kind::saves, document, "Saves", daysAgo);
    if (failed()) return {};
    auto number = nextOrdinal(db_, container.id, Kind::save);
    if (!check(number)) return {};
    ItemRow row = file(Kind::save, container, saveFilename(document.filename, *number), bytes, daysAgo);
    if (!assignId(row)) return {};
    row.ordinal = *number;
    insert(row);
    return row;
  }

  ItemRow record(const ItemRow& container, const std::string& name, const std::string& bytes, double daysAgo) {
    if (failed()) return {};
    ItemRow row = file(Kind::record, container, name, bytes, daysAgo);
    if (!assignId(row)) return {};
    insert(row);
    return row;
  }

  Result<void> finish() {
    if (error_) return std::unexpected(*error_);
    return {};
  }
  const std::vector<std::string>& blobs() const { return createdBlobs_; }

 private:
  bool failed() const { return error_.has_value(); }

  template <class T>
  bool check(const Result<T>& result) {
    if (!result && !error_) error_ = result.error();
    return result.has_value();
  }

  Micros at(double daysAgo) const { return now_ - static_cast<Micros>(daysAgo * microsPerDay); }

  bool assignId(ItemRow& row) {
    auto id = newIdentifier(db_, row.kind);
    if (!check(id)) return false;
    row.id = std::move(*id);
    return true;
  }

  ItemRow base(Kind kind, const std::string& parent, const std::string& name, double daysAgo) {
    ItemRow row{.kind = kind, .parent = parent, .filename = name, .createdAt = at(daysAgo), .modifiedAt = at(daysAgo)};
    assignId(row);
    return row;
  }

  ItemRow child(Kind kind, const ItemRow& parent, const std::string& name, double daysAgo) {
    if (failed()) return {};
    ItemRow row = base(kind, parent.id, name, daysAgo);
    row.matter = parent.matter;
    insert(row);
    return reread(row.id);
  }

  ItemRow file(Kind kind, const ItemRow& parent, const std::string& name, const std::string& bytes, double daysAgo) {
    ItemRow row{.kind = kind, .parent = parent.id, .matter = parent.matter, .filename = name,
                .createdAt = at(daysAgo), .modifiedAt = at(daysAgo)};
    auto blob = blobs_.create(bytes);
    if (check(blob)) {
      createdBlobs_.push_back(*blob);
      row.blob = *blob;
      row.size = static_cast<int64_t>(bytes.size());
    }
    return row;
  }

  // The drafts or saves container of a document, made with its first child.
  ItemRow holder(Kind kind, const ItemRow& document, const std::string& name, double daysAgo) {
    if (failed()) return {};
    auto existing = db_.text("SELECT id FROM items WHERE parent = ? AND kind = ?", document.id, kindName(kind));
    if (!check(existing)) return {};
    if (*existing) return reread(**existing);
    return child(kind, document, name, daysAgo);
  }

  void insert(const ItemRow& row) {
    if (failed()) return;
    check(insertItem(db_, row));
    // Containers change with what is put into them.
    if (row.kind != Kind::matter) check(bumpContent(db_, row.parent, row.createdAt));
  }

  ItemRow reread(const std::string& id) {
    if (failed()) return {};
    auto row = requireItem(db_, id);
    if (!check(row)) return {};
    return std::move(*row);
  }

  Database& db_;
  const BlobStore& blobs_;
  Micros now_;
  std::optional<ApiError> error_;
  std::vector<std::string> createdBlobs_;
};

std::string uuidOf(const ItemRow& version) {
  return version.id.substr(prefixOf(Kind::version).size());
}

void harbourLane(Seeder& s) {
  auto matter = s.matter("Harbour Lane acquisition", /*closed=*/false, /*member=*/true, 150);

  auto correspondence = s.folder(matter, "Correspondence", 120);
  auto engagement = s.document(correspondence, "Engagement letter.docx", 118);
  s.version(engagement, wordDocument({"Harbour Lane Holdings Ltd", "Engagement letter", "Draft for discussion."}), 118);
  s.version(engagement, wordDocument({"Harbour Lane Holdings Ltd", "Engagement letter", "Fees section revised."}), 110);
  auto signedLetter = s.version(engagement,
                                wordDocument({"Harbour Lane Holdings Ltd", "Engagement letter", "Final, as signed."}),
                                95, "Signed by the client", {"signed"});
  s.draft(engagement, wordDocument({"Engagement letter", "Extension of scope to the lease review."}),
          uuidOf(signedLetter), 20);
  s.save(engagement, wordDocument({"Engagement letter", "Scope extension, half written."}), 15);
  auto vendor = s.document(correspondence, "Letter to vendor's solicitors.docx", 60);
  s.version(vendor, wordDocument({"Dear Sirs,", "We act for the purchaser of 14 Harbour Lane."}), 60);
  s.version(vendor, wordDocument({"Dear Sirs,", "We act for the purchaser of 14 Harbour Lane.", "Yours faithfully"}),
            41);
  s.folder(correspondence, "Archive", 100);

  auto diligence = s.folder(matter, "Due diligence", 115);
  auto titles = s.folder(diligence, "Title reports", 90);
  auto title = s.document(titles, "Title report - 14 Harbour Lane.pdf", 88);
  s.version(title, pdfDocument({"Report on title", "14 Harbour Lane", "Freehold, title absolute."}), 88);
  s.version(title, pdfDocument({"Report on title", "14 Harbour Lane", "Freehold, title absolute.",
                                "Easement for drainage noted."}),
            70);
  auto questionnaire = s.document(diligence, "Due diligence questionnaire.docx", 80);
  for (int i = 1; i <= 4; ++i) {
    s.version(questionnaire, wordDocument({"Due diligence questionnaire", "Round " + std::to_string(i) + " answers."}),
              80 - i * 16);
  }
  auto signedCopies = s.grouping(Kind::versionFolder, questionnaire, "Signed copies", 12);
  s.record(signedCopies, "Questionnaire signed.pdf", pdfDocument({"Due diligence questionnaire", "Signed copy"}), 12);
  auto index = s.document(diligence, "Data room index.txt", 75);
  s.version(index, plainText({"Data room index", "1. Corporate", "2. Property", "3. Employment", "4. Contracts"}), 75);

  auto transaction = s.folder(matter, "Transaction documents", 100);
  auto spa = s.document(transaction, "Share purchase agreement.docx", 64);
  s.version(spa, wordDocument({"Share purchase agreement", "First draft from the vendor."}), 64);
  s.version(spa, wordDocument({"Share purchase agreement", "Our comments on warranties."}), 45);
  s.version(spa, wordDocument({"Share purchase agreement", "Agreed form."}), 22);
  s.save(spa, wordDocument({"Share purchase agreement", "Completion mechanics, notes."}), 18);
  s.save(spa, wordDocument({"Share purchase agreement", "Completion mechanics, second pass."}), 9);
  // A document whose first version has not been filed yet.
  s.document(transaction, "Disclosure letter.docx", 5);

  auto summary = s.document(matter, "Matter summary.docx", 140);
  s.version(summary, wordDocument({"Matter summary", "Acquisition of Harbour Lane Holdings Ltd."}), 140);
  s.version(summary, wordDocument({"Matter summary", "Acquisition of Harbour Lane Holdings Ltd.", "Exchange planned."}),
            30);

  auto filed = s.grouping(Kind::filedRecords, matter, "Filed records", 130);
  s.record(filed, "Companies House filing.pdf", pdfDocument({"Confirmation statement", "Harbour Lane Holdings Ltd"}),
           130);
  s.record(filed, "Land Registry title.pdf", pdfDocument({"Official copy of register of title", "14 Harbour Lane"}),
           125);
  auto precedents = s.grouping(Kind::precedents, matter, "Precedents", 130);
  s.record(precedents, "Share purchase agreement precedent.docx",
           wordDocument({"Share purchase agreement", "Firm precedent, 2023 edition."}), 130);
}

void meyer(Seeder& s) {
  auto matter = s.matter("Meyer v. Castellan", false, true, 200);
  auto pleadings = s.folder(matter, "Pleadings", 190);
  auto claim = s.document(pleadings, "Particulars of claim.docx", 185);
  s.version(claim, wordDocument({"IN THE HIGH COURT OF JUSTICE", "Particulars of claim", "Draft 1"}), 185);
  s.version(claim, wordDocument({"IN THE HIGH COURT OF JUSTICE", "Particulars of claim", "Draft 2"}), 170);
  s.version(claim, wordDocument({"IN THE HIGH COURT OF JUSTICE", "Particulars of claim", "As served"}), 160);
  s.draft(claim, wordDocument({"Particulars of claim", "Amendments, not yet based on a version."}), std::nullopt, 7);
  auto defence = s.document(pleadings, "Defence.pdf", 120);
  s.version(defence, pdfDocument({"Defence", "Served by the defendant's solicitors."}), 120);

  auto correspondence = s.folder(matter, "Correspondence", 195);
  auto lba = s.document(correspondence, "Letter before action.docx", 195);
  s.version(lba, wordDocument({"Letter before action", "Draft"}), 195);
  s.version(lba, wordDocument({"Letter before action", "As sent"}), 192);
  s.save(lba, wordDocument({"Letter before action", "Follow-up, started"}), 3);
  auto notes = s.document(correspondence, "Call notes.txt", 60);
  s.version(notes, plainText({"Call with Ms Meyer", "Discussed settlement range."}), 60);

  auto evidence = s.folder(matter, "Evidence", 150);
  auto statements = s.folder(evidence, "Witness statements", 140);
  auto statement = s.document(statements, "Statement of J. Meyer.docx", 140);
  s.version(statement, wordDocument({"Witness statement of Johanna Meyer", "First draft"}), 140);
  s.version(statement, wordDocument({"Witness statement of Johanna Meyer", "Signed"}), 100);

  auto filed = s.grouping(Kind::filedRecords, matter, "Filed records", 180);
  s.record(filed, "Claim form (sealed).pdf", pdfDocument({"Claim form", "Sealed by the court"}), 180);
}

void okafor(Seeder& s) {
  // A closed matter: everything in it is read-only.
  auto matter = s.matter("Estate of R. Okafor", /*closed=*/true, /*member=*/true, 300);
  auto probate = s.folder(matter, "Probate", 290);
  auto will = s.document(probate, "Will.pdf", 290);
  s.version(will, pdfDocument({"Last will and testament of Richard Okafor"}), 290);
  auto inventory = s.document(probate, "Inventory of assets.docx", 280);
  s.version(inventory, wordDocument({"Inventory of assets", "Initial valuation"}), 280);
  s.version(inventory, wordDocument({"Inventory of assets", "Final valuation"}), 240);
  auto closing = s.document(matter, "Closing letter.docx", 200);
  s.version(closing, wordDocument({"Closing letter", "The administration of the estate is complete."}), 200);
  auto filed = s.grouping(Kind::filedRecords, matter, "Filed records", 260);
  s.record(filed, "Grant of probate.pdf", pdfDocument({"Grant of probate"}), 260);
}

void northgate(Seeder& s) {
  // The partner sees this matter only in the administrative list.
  auto matter = s.matter("Northgate lease renewal", false, /*member=*/false, 90);
  auto lease = s.folder(matter, "Lease", 85);
  auto terms = s.document(lease, "Lease renewal heads of terms.docx", 80);
  s.version(terms, wordDocument({"Heads of terms", "Term: 10 years"}), 80);
  s.version(terms, wordDocument({"Heads of terms", "Term: 10 years", "Break at year 5"}), 33);
  auto precedents = s.grouping(Kind::precedents, matter, "Precedents", 85);
  s.record(precedents, "Commercial lease precedent.docx", wordDocument({"Commercial lease", "Firm precedent"}), 85);
}

}  // namespace

Result<bool> seedDemoIfEmpty(Service& service) {
  std::vector<std::string> created;
  auto seeded = service.store().write([&](Database& db) -> Result<bool> {
    auto matters = db.integer("SELECT COUNT(*) FROM matters");
    if (!matters) return std::unexpected(matters.error());
    if (matters->value_or(0) > 0) return false;
    Seeder seeder(db, service.blobs(), nowMicros());
    harbourLane(seeder);
    meyer(seeder);
    okafor(seeder);
    northgate(seeder);
    created = seeder.blobs();
    if (auto done = seeder.finish(); !done) return std::unexpected(done.error());
    return true;
  });
  if (!seeded) service.blobs().removeAll(created);
  return seeded;
}

}  // namespace ostrel::refsvc
