// Edits and new files the service could not take are sent again by
// themselves, once each and in order, when it can.
#include "platform/fileprovider/fuse/tests/mount_fixture.h"

namespace ostrel::fileprovider::testing {
namespace {

const MountOptions quickRetries{
    .callTimeout = std::chrono::seconds(20), .firstRetry = std::chrono::milliseconds(100),
    .longestRetry = std::chrono::milliseconds(400)};
const Error unreachable = FileProviderError::make(FileProviderError::serverUnreachable);

TEST_F(DomainMountTest, AnEditTheServiceMissedIsSentOnceItIsBackWithoutAnotherWrite) {
  auto file = extension_->addFile(rootContainerItemIdentifier, "memo.txt", "service");
  extension_->failAll(InMemoryExtension::Operation::modify, unreachable);
  mountDrive(quickRetries);

  writeFile(at("memo.txt"), "written on the train");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.modified().size() >= 2; }));
  EXPECT_EQ(extension_->bytes(file), "service");
  EXPECT_TRUE(logged("sent again later"));

  extension_->failAll(InMemoryExtension::Operation::modify, std::nullopt);
  ASSERT_TRUE(extension_->waitUntil([&](auto& e) { return e.bytes(file) == "written on the train"; }));
  const size_t sends = extension_->modified().size();
  // Once there, it is not sent again.
  std::this_thread::sleep_for(std::chrono::milliseconds(800));
  EXPECT_EQ(extension_->modified().size(), sends);
  EXPECT_EQ(localCopiesHolding("written on the train"), 0u);
  EXPECT_EQ(readFile(at("memo.txt")), "written on the train");
}

TEST_F(DomainMountTest, WhatWaitedWhenTheMountEndedIsSentWhenItStartsInOrder) {
  auto folder = extension_->addFolder(rootContainerItemIdentifier, "Deep");
  auto inner = extension_->addFolder(folder, "Inner");
  auto memo = extension_->addFile(inner, "memo.txt", "service");
  extension_->failAll(InMemoryExtension::Operation::create, unreachable);
  extension_->failAll(InMemoryExtension::Operation::modify, unreachable);
  mountDrive({.callTimeout = std::chrono::seconds(20), .firstRetry = std::chrono::hours(1),
              .longestRetry = std::chrono::hours(1)});
  writeFile(at("first.txt"), "one");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 1; }));
  writeFile(at("Deep/Inner/memo.txt"), "two");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.modified().size() == 1; }));
  writeFile(at("Deep/second.txt"), "three");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 2; }));
  mount_.reset();

  // Back with the service up: nothing below the root was listed yet, and
  // nobody touches the files.
  extension_->failAll(InMemoryExtension::Operation::create, std::nullopt);
  extension_->failAll(InMemoryExtension::Operation::modify, std::nullopt);
  mountDrive();
  ASSERT_TRUE(extension_->waitUntil([&](auto& e) {
    return e.find(rootContainerItemIdentifier, "first.txt") && e.find(folder, "second.txt") &&
           e.bytes(memo) == "two";
  }));
  const auto created = extension_->created();
  ASSERT_EQ(created.size(), 4u);
  EXPECT_EQ(created[2].filename, "first.txt");
  EXPECT_EQ(created[3].filename, "second.txt");
  EXPECT_EQ(extension_->modified().size(), 2u);
  EXPECT_EQ(readFile(at("first.txt")), "one");
  EXPECT_EQ(readFile(at("Deep/second.txt")), "three");
  EXPECT_EQ(readFile(at("Deep/Inner/memo.txt")), "two");
  EXPECT_EQ(localCopiesHolding("one") + localCopiesHolding("two") + localCopiesHolding("three"), 0u);
}

TEST_F(DomainMountTest, RefusalsStayLocalAndAreNotSentAgain) {
  extension_->refuseCreatesIn(rootContainerItemIdentifier, FileProviderError::make(FileProviderError::cannotSynchronize));
  mountDrive(quickRetries);
  writeFile(at("refused.txt"), "kept");
  ASSERT_TRUE(extension_->waitUntil([](auto& e) { return e.created().size() == 1; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  EXPECT_EQ(extension_->created().size(), 1u);
  EXPECT_EQ(readFile(at("refused.txt")), "kept");
}

}  // namespace
}  // namespace ostrel::fileprovider::testing
