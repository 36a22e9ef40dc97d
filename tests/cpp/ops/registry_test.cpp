// The operator registry: the builtin id table, metadata, and registration.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "ops/builtin.hpp"
#include "ops/registry.hpp"

namespace tov {
namespace {

struct IdRow {
  std::uint64_t id;
  const char* name;
  std::uint8_t arity;
  bool commutative;
};

const IdRow kBuiltinIds[] = {
    {0, "0", 0, false},       {1, "1", 0, false},         {2, "I", 0, false},
    {3, "Pi", 0, false},      {4, "E", 0, false},         {5, "TOV", 2, false},
    {6, "Neg", 1, false},     {7, "Inv", 1, false},       {8, "Plus", 2, true},
    {9, "Times", 2, true},    {10, "Subtract", 2, false}, {11, "Divide", 2, false},
    {12, "Exp", 1, false},    {13, "Log", 1, false},      {14, "Sqrt", 1, false},
    {15, "Sin", 1, false},    {16, "Cos", 1, false},      {17, "Tan", 1, false},
    {18, "ArcSin", 1, false}, {19, "ArcCos", 1, false},   {20, "ArcTan", 1, false},
    {21, "Square", 1, false}, {22, "Cube", 1, false},
};

TEST(Registry, WithBuiltinsAssignsTheFixedIds) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  ASSERT_EQ(registry.size(), std::size(kBuiltinIds));
  ASSERT_EQ(registry.ops().size(), registry.metas().size());
  for (const IdRow& row : kBuiltinIds) {
    const OperatorMeta& meta = registry.metas()[row.id];
    const Operator& op = *registry.ops()[row.id];
    EXPECT_EQ(meta.name, row.name) << row.id;
    EXPECT_EQ(meta.arity, row.arity) << row.id;
    EXPECT_EQ(meta.is_commutative, row.commutative) << row.id;
    EXPECT_EQ(op.name(), meta.name) << row.id;
    EXPECT_EQ(op.arity(), meta.arity) << row.id;
    EXPECT_EQ(op.is_commutative(), meta.is_commutative) << row.id;
  }
}

TEST(Registry, NamedConstantsHaveTheirValues) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const struct {
    std::uint64_t id;
    Complex value;
  } cases[] = {{0, {0, 0}},
               {1, {1, 0}},
               {2, {0, 1}},
               {3, {3.141592653589793, 0}},
               {4, {2.718281828459045, 0}}};
  for (const auto& c : cases) {
    const auto v = registry.ops()[c.id]->eval({});
    ASSERT_TRUE(v.has_value());
    EXPECT_EQ(v->re, c.value.re) << c.id;
    EXPECT_EQ(v->im, c.value.im) << c.id;
  }
}

TEST(Registry, IdsByArityScanInIdOrder) {
  const OperatorRegistry registry = OperatorRegistry::with_builtins();
  const struct {
    std::uint8_t arity;
    std::vector<std::uint64_t> ids;
  } cases[] = {
      {0, {0, 1, 2, 3, 4}},
      {1, {6, 7, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22}},
      {2, {5, 8, 9, 10, 11}},
      {3, {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(registry.ids_by_arity(c.arity), c.ids) << int{c.arity};
  }
}

TEST(Registry, AllBuiltinsAreFreshInstancesInCatalogueOrder) {
  const auto first = OperatorRegistry::all_builtins();
  const auto second = OperatorRegistry::all_builtins();
  ASSERT_EQ(first.size(), 18u);
  for (std::size_t i = 0; i < first.size(); ++i) {
    EXPECT_EQ(first[i]->name(), kBuiltinIds[i + 5].name);
    EXPECT_NE(first[i].get(), second[i].get());
  }
}

// Counts how often the metadata accessors are consulted.
class CountingOp final : public Operator {
 public:
  explicit CountingOp(int* calls) : calls_(calls) {}
  std::string name() const override { return ++*calls_, "Custom"; }
  std::uint8_t arity() const override { return ++*calls_, 2; }
  bool is_commutative() const override { return ++*calls_, true; }
  std::optional<Complex> eval(std::span<const Complex>) const override { return std::nullopt; }
  std::string to_latex(std::span<const std::string>) const override { return ""; }
  std::string to_python(std::span<const std::string>) const override { return ""; }
  std::string describe() const override { return "CountingOp"; }

 private:
  int* calls_;
};

TEST(Registry, RegisterAppendsWithTheNextIdAndReadsMetadataOnce) {
  OperatorRegistry registry = OperatorRegistry::with_builtins();
  int calls = 0;
  registry.register_operator(std::make_unique<CountingOp>(&calls));
  EXPECT_EQ(calls, 3);
  EXPECT_EQ(registry.size(), 24u);
  EXPECT_EQ(registry.metas()[23].name, "Custom");
  EXPECT_TRUE(registry.metas()[23].is_commutative);
  EXPECT_EQ(registry.ids_by_arity(2).back(), 23u);

  // The same kind registered twice gets two ids.
  registry.register_operator(std::make_unique<Plus>());
  EXPECT_EQ(registry.metas()[24].name, "Plus");
  EXPECT_EQ(registry.ids_by_arity(2), (std::vector<std::uint64_t>{5, 8, 9, 10, 11, 23, 24}));
}

TEST(Registry, EmptyRegistryHasNoIds) {
  const OperatorRegistry registry;
  EXPECT_EQ(registry.size(), 0u);
  EXPECT_TRUE(registry.ids_by_arity(1).empty());
}

}  // namespace
}  // namespace tov
