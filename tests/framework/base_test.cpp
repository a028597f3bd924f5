#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cport/comm/comm_api.h"
#include "cport/fw/component.h"
#include "cport/fw/exception.h"
#include "cport/fw/os_error.h"
#include "cport/fw/persistent.h"
#include "cport/fw/set.h"

namespace {

using cport::fw::EConvertError;
using cport::fw::TComponent;
using cport::fw::TPersistent;

enum class Color : unsigned { red, green, blue, c7 = 7, c15 = 15 };
using Small = cport::fw::TSet<Color, std::uint8_t>;
using Wide = cport::fw::TSet<Color, std::uint16_t>;

TEST(TSetTest, BitNIsTheMemberOfOrdinalN) {
  Small s{Color::red, Color::blue, Color::c7};
  EXPECT_EQ(s.ToBits(), 0b1000'0101);
  EXPECT_TRUE(s.Contains(Color::c7));
  EXPECT_FALSE(s.Contains(Color::green));
  s.Exclude(Color::c7);
  EXPECT_EQ(s.ToBits(), 0b101);
  EXPECT_EQ(Wide{Color::c15}.ToBits(), 0x8000);
  EXPECT_EQ(sizeof(Small), 1u);
  EXPECT_EQ(sizeof(Wide), 2u);
}

TEST(TSetTest, Operators) {
  const Small a{Color::red, Color::green};
  const Small b{Color::green, Color::blue};
  EXPECT_EQ((a + b).ToBits(), 0b111);
  EXPECT_EQ((a - b).ToBits(), 0b001);
  EXPECT_EQ((a * b).ToBits(), 0b010);
  EXPECT_TRUE(Small{}.Empty());
  EXPECT_EQ(Small::FromBits(0b011), a);
}

TEST(ExceptionTest, WhatIsTheUtf8Message) {
  cport::fw::Exception e(u"Fehler: \u00FCber \u20AC");
  EXPECT_STREQ(e.what(),
               "Fehler: \xC3\xBC"
               "ber \xE2\x82\xAC");
  e.SetMessage(u"other");
  EXPECT_EQ(e.Message(), u"other");
  EXPECT_STREQ(e.what(), "other");
}

TEST(OSErrorTest, DescriptionOfAnErrorNumber) {
  EXPECT_EQ(cport::fw::OSErrorDescription(0),
            u"A call to an OS function failed");
  const std::u16string text = cport::fw::SysErrorMessage(2);
  EXPECT_FALSE(text.empty());
  EXPECT_EQ(cport::fw::OSErrorDescription(2),
            u"System Error.  Code: 2.\r\n" + text);

  cport::comm::Api().SetLastError(2);
  try {
    cport::fw::RaiseLastOSError();
  } catch (const cport::fw::EOSError& e) {
    EXPECT_EQ(e.ErrorCode(), 2u);
    EXPECT_EQ(e.Message(), cport::fw::OSErrorDescription(2));
  }
}

class TTimeouts : public TPersistent {
 public:
  std::u16string ClassName() const override { return u"TComTimeouts"; }
  void Assign(const TPersistent& source) override {
    if (auto* other = dynamic_cast<const TTimeouts*>(&source)) {
      value = other->value;
    } else {
      TPersistent::Assign(source);
    }
  }
  int value = 0;
};

class TBuffer : public TPersistent {
 public:
  std::u16string ClassName() const override { return u"TComBuffer"; }
};

TEST(PersistentTest, AssignCopiesBetweenRelatedClasses) {
  TTimeouts a, b;
  a.value = 42;
  b.Assign(a);
  EXPECT_EQ(b.value, 42);
}

TEST(PersistentTest, AssignErrorTexts) {
  TTimeouts timeouts;
  TBuffer buffer;
  struct Case {
    TPersistent& dest;
    const TPersistent* source;
    std::u16string message;
  };
  const Case cases[] = {
      {timeouts, &buffer, u"Cannot assign a TComBuffer to a TComTimeouts"},
      {buffer, &timeouts, u"Cannot assign a TComTimeouts to a TComBuffer"},
      {timeouts, nullptr, u"Cannot assign a nil to a TComTimeouts"},
  };
  for (const Case& c : cases) {
    try {
      c.dest.AssignFrom(c.source);
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.Message(), c.message);
    }
  }
}

// Records its construction and destruction and the Loaded calls.
class Probe : public TComponent {
 public:
  Probe(TComponent* owner, std::string name, std::vector<std::string>& log)
      : TComponent(owner), name_(std::move(name)), log_(log) {}
  ~Probe() override { log_.push_back("~" + name_); }

 protected:
  void Loaded() override {
    log_.push_back("Loaded " + name_ +
                   (ComponentState().Contains(cport::fw::csLoading)
                        ? " (still loading)"
                        : ""));
  }

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

TEST(ComponentTest, OwnerDestroysOwnedLastInsertedFirst) {
  std::vector<std::string> log;
  {
    Probe form(nullptr, "form", log);
    new Probe(&form, "a", log);
    auto* b = new Probe(&form, "b", log);
    new Probe(b, "b1", log);
    auto* c = new Probe(&form, "c", log);
    delete c;  // leaves its owner
    ASSERT_EQ(form.Components().size(), 2u);
    EXPECT_EQ(b->Owner(), &form);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"~c", "~form", "~b", "~b1", "~a"}));
}

TEST(ComponentTest, EndLoadingClearsTheStateThenCallsLoaded) {
  std::vector<std::string> log;
  Probe form(nullptr, "form", log);
  auto* port = new Probe(&form, "port", log);
  form.BeginLoading();
  EXPECT_TRUE(port->ComponentState().Contains(cport::fw::csLoading));
  form.EndLoading();
  EXPECT_EQ(log, (std::vector<std::string>{"Loaded form", "Loaded port"}));
  EXPECT_TRUE(form.ComponentState().Empty());
  EXPECT_TRUE(port->ComponentState().Empty());
  form.EndLoading();  // not loading: no second Loaded
  EXPECT_EQ(log.size(), 2u);

  form.SetDesigning(true);
  EXPECT_TRUE(port->ComponentState().Contains(cport::fw::csDesigning));
  form.SetDesigning(false);
  EXPECT_TRUE(port->ComponentState().Empty());
}

}  // namespace
