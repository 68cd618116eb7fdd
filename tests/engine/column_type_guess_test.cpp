// The type of a column whose type byte is lost, told from its descriptor and values.
#include <gtest/gtest.h>

#include <cstring>

#include "jet/format/column_type_guess.h"

namespace {

using namespace jet;

std::vector<uint8_t> bytes_of(double d) {
    std::vector<uint8_t> b(8);
    std::memcpy(b.data(), &d, 8);
    return b;
}

std::vector<uint8_t> bytes_of(float f) {
    std::vector<uint8_t> b(4);
    std::memcpy(b.data(), &f, 4);
    return b;
}

std::vector<uint8_t> bytes_of(int64_t v, size_t width) {
    std::vector<uint8_t> b(width);
    for (size_t i = 0; i < width; ++i) b[i] = uint8_t(uint64_t(v) >> (8 * i));
    return b;
}

struct GuessCase {
    const char* name;
    uint8_t flags;
    uint16_t length;
    std::vector<std::vector<uint8_t>> fixed;  // values of a fixed column
    size_t values, text;                      // values of a variable one, and how many read as text
    char table_type;
    uint8_t expected;
};

void PrintTo(const GuessCase& c, std::ostream* out) { *out << c.name; }

constexpr uint8_t kFixed = column_flag::fixed | column_flag::updatable;
constexpr uint8_t kVariable = column_flag::updatable;

const GuessCase kCases[] = {
    {"Dates", kFixed, 8, {bytes_of(45000.5), bytes_of(36526.0), bytes_of(0.25)}, 0, 0, 'N', data_type::datetime},
    {"TimesOfOddDays", kFixed, 8, {bytes_of(1.1), bytes_of(43.32451388888889), bytes_of(-94.43003472222222)}, 0, 0, 'N',
     data_type::datetime},
    {"RoundDoubles", kFixed, 8, {bytes_of(2.5), bytes_of(444.555), bytes_of(1.1)}, 0, 0, 'N', data_type::double_},
    {"Zeros", kFixed, 8, {bytes_of(0.0)}, 0, 0, 'N', data_type::double_},
    {"Doubles", kFixed, 8, {bytes_of(3.14159), bytes_of(-2.5e6), bytes_of(12.0)}, 0, 0, 'N', data_type::double_},
    {"Currency", kFixed, 8, {bytes_of(123400, 8), bytes_of(-50000, 8)}, 0, 0, 'N', data_type::currency},
    {"EightNoValues", kFixed, 8, {}, 0, 0, 'N', data_type::binary},
    {"EightSystem", kFixed, 8, {}, 0, 0, 'S', data_type::datetime},
    {"Longs", kFixed, 4, {bytes_of(17, 4), bytes_of(-3, 4), bytes_of(100000, 4)}, 0, 0, 'N', data_type::long_integer},
    {"Singles", kFixed, 4, {bytes_of(1.5f), bytes_of(-250.25f)}, 0, 0, 'N', data_type::single},
    {"Autonumber", kFixed | column_flag::auto_long, 4, {}, 0, 0, 'N', data_type::long_integer},
    {"FourNoValues", kFixed, 4, {}, 0, 0, 'N', data_type::binary},
    {"Integer", kFixed, 2, {}, 0, 0, 'N', data_type::integer},
    {"Guid", kFixed, 16, {}, 0, 0, 'N', data_type::guid},
    {"FixedBinary", kFixed, 241, {}, 0, 0, 'N', data_type::binary},
    {"FixedText", kFixed, 10, {{'V', 0, 'I', 0, 'N', 0, 'E', 0, 'T', 0}}, 1, 1, 'N', data_type::text},
    {"HugeSingles", kFixed, 4, {bytes_of(3.4e38f), bytes_of(1e-5f)}, 0, 0, 'N', data_type::single},
    {"Text", kVariable, 100, {}, 5, 5, 'N', data_type::text},
    {"Binary", kVariable, 510, {}, 5, 2, 'N', data_type::binary},
    {"VariableNoValues", kVariable, 510, {}, 0, 0, 'N', data_type::binary},
    {"VariableDates", kVariable, 8, {bytes_of(43913.29210648148), bytes_of(43913.5)}, 2, 2, 'N', data_type::datetime},
    {"VariableLongs", kVariable, 4, {bytes_of(7, 4), bytes_of(300, 4)}, 2, 0, 'N', data_type::long_integer},
    {"TwoLetterTexts", kVariable, 4, {{'C', 0, 'A', 0}, {'N', 0, 'Y', 0}}, 2, 2, 'N', data_type::text},
    {"Memo", kVariable, 0, {}, 3, 3, 'N', data_type::memo},
    {"Ole", kVariable, 0, {}, 3, 1, 'N', data_type::ole},
    {"Hyperlink", kVariable | column_flag::hyperlink, 0, {}, 0, 0, 'N', data_type::memo},
};

class GuessColumnType : public ::testing::TestWithParam<GuessCase> {};

}  // namespace

TEST_P(GuessColumnType, FromDescriptorAndValues) {
    const GuessCase& c = GetParam();
    TableDef t;
    t.table_type = uint8_t(c.table_type);
    Column column;
    column.flags = c.flags;
    column.length = c.length;
    column.fixed_offset = 0;
    t.columns.push_back(column);
    ColumnValues values;
    values.samples = c.fixed;
    values.values = c.fixed.empty() ? c.values : c.fixed.size();
    values.text = c.text;
    const TypeGuess guess = guess_column_type(t, "Tabla", t.columns[0], kJet4Layout, 0x01, values);
    EXPECT_EQ(int(guess.type), int(c.expected)) << guess.reason;
    EXPECT_FALSE(guess.reason.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, GuessColumnType, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<GuessCase>& info) { return std::string(info.param.name); });

// A one-byte column: a Yes/No when another column holds its offset, a Byte when the
// offset is its own and rows hold bytes there.
TEST(GuessColumnType, OneByteByItsSlot) {
    TableDef t;
    t.table_type = 'N';
    Column lost, other;
    lost.flags = other.flags = kFixed;
    lost.length = 1;
    other.type = data_type::long_integer;
    other.length = 4;
    other.number = 1;
    t.columns = {lost, other};
    ColumnValues values;
    values.samples = {{0x05}};
    EXPECT_EQ(guess_column_type(t, "Tabla", t.columns[0], kJet4Layout, 0x01, values).type, data_type::boolean);
    t.columns[1].fixed_offset = 1;
    EXPECT_EQ(guess_column_type(t, "Tabla", t.columns[0], kJet4Layout, 0x01, values).type, data_type::byte);
    values.outside_fixed = 1;
    EXPECT_EQ(guess_column_type(t, "Tabla", t.columns[0], kJet4Layout, 0x01, values).type, data_type::boolean);
}

// Access's tables for multi-valued fields say their columns' types in their names.
TEST(GuessColumnType, EmptyComplexTemplatesByName) {
    TableDef t;
    t.table_type = 'N';
    Column c;
    c.flags = kFixed;
    c.length = 8;
    c.name = "Value";
    t.columns = {c};
    EXPECT_EQ(guess_column_type(t, "MSysComplexType_IEEEDouble", t.columns[0], kJet4Layout, 0x02, {}).type,
              data_type::double_);
    t.columns[0].name = "FileTimeStamp";
    EXPECT_EQ(guess_column_type(t, "MSysComplexType_Attachment", t.columns[0], kJet4Layout, 0x02, {}).type,
              data_type::datetime);
    EXPECT_EQ(guess_column_type(t, "Tabla", t.columns[0], kJet4Layout, 0x02, {}).type, data_type::binary);
}
