#include "devices/win/procedures/cls_registry.h"

#include <gtest/gtest.h>

#include "fakes/fake_registry.h"

namespace {

using devices::kHkeyCurrentUser;
using devices::kHkeyLocalMachine;
using devices::OneBasedArray;
using devices::RegistryClass;
using devices::Variant;
using fakes::FakeRegistry;

std::vector<std::uint8_t> Bytes(std::initializer_list<int> b) {
  std::vector<std::uint8_t> v;
  for (int x : b) v.push_back(static_cast<std::uint8_t>(x));
  return v;
}

TEST(ClsRegistryTest, PredefinedKeyNamesInAnyCaseAndNothingElse) {
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"HKEY_CURRENT_USER"), 0x80000001u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"hkey_local_machine"), 0x80000002u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"Hkey_Classes_Root"), 0x80000000u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"HKEY_USERS"), 0x80000003u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"HKEY_CURRENT_CONFIG"), 0x80000005u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"HKEY_DYN_DATA"), 0x80000006u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"HKEY_PERFORMANCE_DATA"), 0u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L"HKLM"), 0u);
  EXPECT_EQ(RegistryClass::GetKeyHandle(L""), 0u);
}

TEST(ClsRegistryTest, LoadValueReadsTextNumbersAndBytesAndClosesTheKey) {
  FakeRegistry fr;
  fr.PutString(kHkeyLocalMachine, "Soft\\K", "s", "abc");
  fr.Put(kHkeyLocalMachine, "Soft\\K", "d", devices::kRegDword, Bytes({0xFE, 0xFF, 0xFF, 0xFF}));
  fr.Put(kHkeyLocalMachine, "Soft\\K", "b", devices::kRegBinary, Bytes({1, 0, 3}));
  RegistryClass reg(fr);

  EXPECT_EQ(reg.LoadValue(L"Soft\\K", L"s", Variant(L"x"), L"hkey_local_machine"), Variant(L"abc"));
  EXPECT_EQ(reg.LoadValue(L"Soft\\K", L"D", Variant(), L"HKEY_LOCAL_MACHINE"), Variant(-2));
  const Variant b = reg.LoadValue(L"soft\\k", L"b", Variant(), L"HKEY_LOCAL_MACHINE");
  ASSERT_TRUE(b.IsBytes());
  EXPECT_EQ(b.Bytes(), Bytes({1, 0, 3}));
  EXPECT_EQ(fr.open_keys(), 0);
  for (const auto& o : fr.openings) EXPECT_EQ(o.access, devices::kKeyRead);
}

TEST(ClsRegistryTest, TextIsWhatTheSecondQueryDeliveredWhenTheFirstOverstatedIt) {
  FakeRegistry fr;
  fr.PutString(kHkeyCurrentUser, "K", "s", "abc");
  fr.text_size_overstatement = 4;
  EXPECT_EQ(RegistryClass(fr).LoadValue(L"K", L"s"), Variant(L"abc"));
}

TEST(ClsRegistryTest, TextEndsAtItsFirstNulOrAtItsStoredLength) {
  FakeRegistry fr;
  fr.Put(kHkeyCurrentUser, "K", "bare", devices::kRegSz, Bytes({'1', '0', '.', '0', '.', '1'}));
  fr.Put(kHkeyCurrentUser, "K", "extra", devices::kRegExpandSz,
         Bytes({'%', 'a', '%', 0, 'b', 0, 0}));
  RegistryClass reg(fr);
  EXPECT_EQ(reg.LoadValue(L"K", L"bare"), Variant(L"10.0.1"));
  EXPECT_EQ(reg.LoadValue(L"K", L"extra"), Variant(L"%a%"));
}

TEST(ClsRegistryTest, LoadValueFallsBackToTheDefaultOnEveryFailure) {
  FakeRegistry fr;
  fr.PutString(kHkeyCurrentUser, "K", "s", "abc");
  fr.Put(kHkeyCurrentUser, "K", "empty_sz", devices::kRegSz, {});
  fr.Put(kHkeyCurrentUser, "K", "empty_bin", devices::kRegBinary, {});
  fr.Put(kHkeyCurrentUser, "K", "multi", devices::kRegMultiSz, Bytes({'a', 0, 0}));
  RegistryClass reg(fr);
  const Variant def(L"default");

  EXPECT_EQ(reg.LoadValue(L"K", L"s", def), Variant(L"abc"));  // HKEY_CURRENT_USER by default
  EXPECT_EQ(reg.LoadValue(L"K", L"s", def, L"HKLM"), def);
  EXPECT_EQ(reg.LoadValue(L"K", L"s", def, L"HKEY_LOCAL_MACHINE"), def);
  EXPECT_EQ(reg.LoadValue(L"Missing", L"s", def), def);
  EXPECT_EQ(reg.LoadValue(L"K", L"missing", def), def);
  EXPECT_EQ(reg.LoadValue(L"K", L"empty_sz", def), def);
  EXPECT_EQ(reg.LoadValue(L"K", L"empty_bin", def), def);
  EXPECT_EQ(reg.LoadValue(L"K", L"multi", def), def);
  EXPECT_TRUE(reg.LoadValue(L"K", L"missing").IsEmpty());
  EXPECT_EQ(fr.open_keys(), 0);
}

TEST(ClsRegistryTest, EnumKeyFillsFromElementOneAndGrowsPastEachStep) {
  for (int n : {0, 1, 199, 200, 201, 450}) {
    FakeRegistry fr;
    fr.Key(kHkeyCurrentUser, "Parent");
    for (int i = 0; i < n; ++i) {
      char name[16];
      std::snprintf(name, sizeof name, "k%03d", i);
      fr.Key(kHkeyCurrentUser, std::string("Parent\\") + name);
    }
    OneBasedArray<std::wstring> keys;
    keys.ReDim(3);  // whatever was there goes
    EXPECT_EQ(RegistryClass(fr).EnumKey(keys, L"Parent"), n);
    EXPECT_EQ(keys.UBound(), n);
    EXPECT_EQ(keys.IsEmpty(), n == 0);
    if (n > 0) {
      EXPECT_EQ(keys[1], L"k000");
      EXPECT_EQ(keys[n], L"k" +
                             std::wstring(n - 1 < 10    ? L"00"
                                          : n - 1 < 100 ? L"0"
                                                        : L"") +
                             std::to_wstring(n - 1));
    }
    EXPECT_EQ(fr.open_keys(), 0);
  }
}

TEST(ClsRegistryTest, EnumerationsOfMissingKeysAndOverlongNames) {
  FakeRegistry fr;
  fr.Key(kHkeyCurrentUser, "P\\a");
  fr.Key(kHkeyCurrentUser, "P\\" + std::string(255, 'b'));  // does not fit the buffer
  fr.Key(kHkeyCurrentUser, "P\\c");
  fr.PutString(kHkeyCurrentUser, "P", "v1", "x");
  fr.PutString(kHkeyCurrentUser, "P", "V2", "y");
  RegistryClass reg(fr);
  OneBasedArray<std::wstring> a;

  EXPECT_EQ(reg.EnumKey(a, L"P"), 1);  // the long name ends the walk
  EXPECT_EQ(a[1], L"a");
  EXPECT_EQ(reg.EnumValue(a, L"P"), 2);
  EXPECT_EQ(a[1], L"v1");
  EXPECT_EQ(a[2], L"V2");
  EXPECT_EQ(reg.EnumValue(a, L"Nope"), 0);
  EXPECT_TRUE(a.IsEmpty());
  EXPECT_EQ(reg.EnumKey(a, L"P", L"bogus"), 0);
  EXPECT_TRUE(a.IsEmpty());
}

TEST(ClsRegistryTest, DeleteKeyResults) {
  FakeRegistry fr;
  fr.Key(kHkeyCurrentUser, "T\\leaf");
  fr.Key(kHkeyCurrentUser, "T\\deep\\child");
  RegistryClass reg(fr);

  EXPECT_EQ(reg.DeleteKey(L"T", L"leaf"), 2);
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "T\\leaf"), nullptr);
  EXPECT_EQ(reg.DeleteKey(L"T", L"leaf"), 1);  // gone already
  EXPECT_EQ(reg.DeleteKey(L"T", L"deep"), 1);  // has a subkey of its own
  EXPECT_EQ(reg.DeleteKey(L"Missing", L"x"), 0);
  EXPECT_EQ(reg.DeleteKey(L"Missing"), 0);
  for (const auto& o : fr.openings) EXPECT_EQ(o.access, devices::kKeyAllAccess);
  EXPECT_EQ(fr.open_keys(), 0);
}

TEST(ClsRegistryTest, DeleteKeyWithoutSubKeyGoesOneLevelDownAndStepsOverStuckSubkeys) {
  FakeRegistry fr;
  fr.Key(kHkeyCurrentUser, "A\\x");
  fr.Key(kHkeyCurrentUser, "A\\y");
  fr.Key(kHkeyCurrentUser, "B\\a");
  fr.Key(kHkeyCurrentUser, "B\\deep\\child");
  fr.Key(kHkeyCurrentUser, "B\\z");
  RegistryClass reg(fr);

  EXPECT_EQ(reg.DeleteKey(L"A"), 3);
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "A"), nullptr);
  // "deep" can't go: the others still do, and the call ends.
  EXPECT_EQ(reg.DeleteKey(L"B"), 2);
  EXPECT_NE(fr.Find(kHkeyCurrentUser, "B\\deep\\child"), nullptr);
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "B\\a"), nullptr);
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "B\\z"), nullptr);
  EXPECT_EQ(fr.open_keys(), 0);
}

TEST(ClsRegistryTest, SaveValueStoresEachKindAndCreatesMissingKeysWithTheirClass) {
  FakeRegistry fr;
  RegistryClass reg(fr);

  EXPECT_TRUE(reg.SaveValue(L"\\S\\Text", L"t", Variant(L"abc")));
  const auto* t = fr.FindValue(kHkeyCurrentUser, "S\\Text", "t");
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->type, devices::kRegSz);
  EXPECT_EQ(t->data, Bytes({'a', 'b', 'c', 0}));
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "S\\Text")->key_class, "REG_SZ");
  EXPECT_EQ(fr.openings.front().access, devices::kKeyWrite);

  EXPECT_TRUE(reg.SaveValue(L"S\\Num", L"n", Variant(7)));
  const auto* n = fr.FindValue(kHkeyCurrentUser, "S\\Num", "n");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->type, devices::kRegDword);
  EXPECT_EQ(n->data, Bytes({7, 0, 0, 0}));
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "S\\Num")->key_class, "REG_DWORD");

  EXPECT_TRUE(reg.SaveValue(L"S\\Bin", L"b", Variant(Bytes({9, 8})), L"HKEY_CURRENT_USER", false));
  const auto* b = fr.FindValue(kHkeyCurrentUser, "S\\Bin", "b");
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->type, devices::kRegBinary);
  EXPECT_EQ(b->data, Bytes({9, 8}));
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "S\\Bin")->key_class, "REG_BINARY");

  // An existing key keeps its class.
  EXPECT_TRUE(reg.SaveValue(L"S\\Text", L"n", Variant(1)));
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "S\\Text")->key_class, "REG_SZ");
  EXPECT_EQ(reg.LoadValue(L"S\\Num", L"n"), Variant(7));
  EXPECT_EQ(fr.open_keys(), 0);
}

TEST(ClsRegistryTest, SaveValueFailuresAreReportedAsFalse) {
  FakeRegistry fr;
  RegistryClass reg(fr);
  fr.fail_create = true;
  EXPECT_FALSE(reg.SaveValue(L"New", L"v", Variant(L"x")));
  fr.fail_create = false;
  fr.fail_set_value = true;
  EXPECT_FALSE(reg.SaveValue(L"New", L"v", Variant(L"x")));
  EXPECT_FALSE(reg.SaveValue(L"New", L"v", Variant(L"x"), L"nonsense"));
  EXPECT_EQ(fr.open_keys(), 0);
}

TEST(ClsRegistryTest, ABytesValueAsDwordThrowsBeforeAnyKeyIsMade) {
  FakeRegistry fr;
  RegistryClass reg(fr);
  EXPECT_THROW(reg.SaveValue(L"Never", L"v", Variant(Bytes({1}))), devices::RegistryValueError);
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "Never"), nullptr);
  EXPECT_TRUE(fr.openings.empty());
}

TEST(ClsRegistryTest, CreateKeyStoresThenCreatesTheKeyAsGiven) {
  FakeRegistry fr;
  RegistryClass reg(fr);
  EXPECT_TRUE(reg.CreateKey(L"C\\One", L"v", Variant(5), L"HKEY_CURRENT_USER", true));
  EXPECT_EQ(fr.FindValue(kHkeyCurrentUser, "C\\One", "v")->type, devices::kRegDword);
  EXPECT_EQ(fr.Find(kHkeyCurrentUser, "C\\One")->key_class, "REG_DWORD");
  // The default flag stores a number as binary.
  EXPECT_TRUE(reg.CreateKey(L"C\\Two", L"v", Variant(5)));
  EXPECT_EQ(fr.FindValue(kHkeyCurrentUser, "C\\Two", "v")->type, devices::kRegBinary);
  // SaveValue drops a leading backslash, the key creation does not.
  EXPECT_FALSE(reg.CreateKey(L"\\C\\Three", L"v", Variant(L"t")));
  EXPECT_NE(fr.FindValue(kHkeyCurrentUser, "C\\Three", "v"), nullptr);
  fr.fail_set_value = true;
  EXPECT_FALSE(reg.CreateKey(L"C\\Four", L"v", Variant(L"t")));
  EXPECT_EQ(fr.open_keys(), 0);
}

}  // namespace
