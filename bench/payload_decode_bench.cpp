// Decoding one full listing page (500 items, the largest page the drive
// asks for) from the service's JSON, as the client does for every page.
#include <benchmark/benchmark.h>

#include <string>

#include "drive/client/drive_records_decoding.h"

namespace {

std::string pageBody(int items) {
  std::string body = R"({"items":[)";
  for (int i = 0; i < items; ++i) {
    if (i) body += ',';
    const std::string n = std::to_string(i);
    body += R"({"identifier":"doc:)" + n + R"(","parent_identifier":"folder:9","kind":"container",)"
            R"("filename":"Engagement letter )" + n + R"(.docx","size":)" + std::to_string(1000 + i) +
            R"(,"content_version":"3f2504e0-4f89-11d3-9a0c-0305e82c3301:)" + n +
            R"(","metadata_version":"m)" + n + R"(","created_at":"2024-03-01T09:30:00.123456Z",)"
            R"("modified_at":"2024-03-02T10:00:00Z","capabilities":["rename","reparent","delete","add_children"],)"
            R"("child_count":3,"version_label":"v)" + n + R"(","comment":null,"tags":["client","draft"]})";
  }
  return body + R"(],"next_page":"cursor-500"})";
}

void BM_DecodePage(benchmark::State& state) {
  const int items = static_cast<int>(state.range(0));
  const std::string body = pageBody(items);
  for (auto _ : state) {
    auto page = ostrel::json::decodeBody<ostrel::drive::DrivePage>(body);
    if (!page || page->items.size() != static_cast<size_t>(items)) state.SkipWithError("decoding failed");
    benchmark::DoNotOptimize(page);
  }
  state.SetItemsProcessed(state.iterations() * items);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(body.size()));
}
BENCHMARK(BM_DecodePage)->Arg(500);

}  // namespace
