#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "TestUtil.h"
#include "browser/SearchSql.h"
#include "platform/QStringPrint.h"
#include "platform/dao/Dao.h"

using namespace browser;

namespace {

constexpr int kText = 10, kLong = 4, kCurrency = 5, kDate = 8;

QString search(const QString& op, const std::vector<SearchRow>& rows, const QString& table = "Clientes") {
    return searchSql("*", table, op, rows);
}

}  // namespace

TEST(SearchSqlTest, ConditionsFollowOperatorAndFieldType) {
    // Text fields: containment for "Like", equality for every other operator.
    EXPECT_EQ(search("Like", {{"Nombre", kText, "ab"}}), "select * from Clientes where [Nombre] like '*ab*'");
    EXPECT_EQ(search(">", {{"Nombre", kText, "ab"}}), "select * from Clientes where [Nombre] = 'ab'");
    EXPECT_EQ(search("<", {{"Alta", kDate, "1/2/2024"}}), "select * from Clientes where [Alta] = '1/2/2024'");
    // Numeric fields: the operator without a blank before the number; "Like" becomes equality.
    EXPECT_EQ(search("Like", {{"Cantidad", kLong, "12"}}), "select * from Clientes where [Cantidad] =12");
    EXPECT_EQ(search(">", {{"Precio", kCurrency, "15"}}), "select * from Clientes where [Precio] >15");
    EXPECT_EQ(search("<", {{"Cantidad", 3, "2.5"}}), "select * from Clientes where [Cantidad] <2.5");
    // A numeric value is its leading number: 12abc is 12, abc is 0.
    EXPECT_EQ(search("=", {{"Cantidad", kLong, "12abc"}}), "select * from Clientes where [Cantidad] =12");
    EXPECT_EQ(search("=", {{"Cantidad", kLong, "abc"}}), "select * from Clientes where [Cantidad] =0");
    EXPECT_EQ(search("=", {{"Cantidad", kLong, " - 1 2x"}}), "select * from Clientes where [Cantidad] =-12");
}

TEST(SearchSqlTest, RowsJoinedWithEmptyRowsSkipped) {
    const std::vector<SearchRow> rows = {{"Nombre", kText, "ab"},
                                         {"Precio", kCurrency, ""},
                                         {"", kText, "no field chosen"},
                                         {"Cantidad", kLong, "12"}};
    EXPECT_EQ(search("Like", rows), "select * from Clientes where [Nombre] like '*ab*' and [Cantidad] =12");
    // A row switched to another field takes that field's name and type.
    std::vector<SearchRow> switched = rows;
    switched[3] = {"Ciudad", kText, "12"};
    EXPECT_EQ(search("=", switched), "select * from Clientes where [Nombre] = 'ab' and [Ciudad] = '12'");
    // Nothing typed: every record.
    EXPECT_EQ(search("Like", {{"Nombre", kText, ""}, {"Precio", kCurrency, ""}}), "select * from Clientes");
}

TEST(SearchSqlTest, RangeTextsWithOpenEnds) {
    EXPECT_EQ(rangeSql("*", "Clientes", "Precio", "5", "100"),
              "select * from Clientes where [Precio]>= 5 and [Precio] <= 100");
    EXPECT_EQ(rangeSql("*", "Clientes", "Precio", "*", "100"),
              "select * from Clientes where [Precio] <= 100");
    EXPECT_EQ(rangeSql("*", "Clientes", "Precio", "5", "*"), "select * from Clientes where [Precio] >= 5 ");
    EXPECT_EQ(rangeSql("*", "Clientes", "Precio", "*", "*"), "select * from Clientes where [Precio] <= 0");
    EXPECT_EQ(rangeSql("*", "Clientes", "Precio", "5x", "1e2"),
              "select * from Clientes where [Precio]>= 5 and [Precio] <= 100");
    // A missing bound or field gives no text: the grid stays as it is.
    EXPECT_FALSE(rangeSql("*", "Clientes", "Precio", "", "100"));
    EXPECT_FALSE(rangeSql("*", "Clientes", "Precio", "5", ""));
    EXPECT_FALSE(rangeSql("*", "Clientes", "", "5", "100"));
}

TEST(SearchSqlTest, OddTableNamesBracketedPlainNamesUnchanged) {
    for (const char* plain : {"Clientes", "tabla_1", "_x", "Date", "Name"}) EXPECT_EQ(sqlName(plain), plain);
    EXPECT_EQ(sqlName("Mi tabla"), "[Mi tabla]");
    EXPECT_EQ(sqlName("Ventas-2020"), "[Ventas-2020]");
    EXPECT_EQ(sqlName("2020"), "[2020]");
    EXPECT_EQ(sqlName("Año"), "[Año]");
    EXPECT_EQ(sqlName("Order"), "[Order]");
    EXPECT_EQ(sqlName("yes"), "[yes]");
    EXPECT_EQ(sqlName("a]b"), "`a]b`");
    // Every text built carries the quoted name; field names keep their brackets.
    EXPECT_EQ(recordSourceSql("*", "Mi tabla"), "select * from [Mi tabla]");
    EXPECT_EQ(search("Like", {{"Nombre", kText, "ab"}}, "Mi tabla"),
              "select * from [Mi tabla] where [Nombre] like '*ab*'");
    EXPECT_EQ(rangeSql("*", "Order", "Precio", "*", "3"), "select * from [Order] where [Precio] <= 3");
    EXPECT_EQ(fieldRef("a]b"), "`a]b`");
    EXPECT_EQ(sortExpression("Nombre"), "Nombre");
    EXPECT_EQ(sortExpression("Nombre completo"), "[Nombre completo]");
}

TEST(SearchSqlTest, ValuesCannotBreakTheText) {
    EXPECT_EQ(search("Like", {{"Nombre", kText, "O'Brien"}}),
              "select * from Clientes where [Nombre] like '*O''Brien*'");
    EXPECT_EQ(search("=", {{"Nombre", kText, "x' or 'a'='a"}}),
              "select * from Clientes where [Nombre] = 'x'' or ''a''=''a'");
    EXPECT_EQ(search("=", {{"Cantidad", kLong, "1 or 1=1"}}), "select * from Clientes where [Cantidad] =1");
    // A number beyond the double range is an overflow, not the word "Infinity" in the text.
    try {
        search("=", {{"Cantidad", kLong, "1e999"}});
        FAIL() << "no overflow";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), dao::err::Overflow);
    }
    // A comma locale still writes the decimal point.
    testutil::LocaleGuard german(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(search(">", {{"Precio", kCurrency, "1.5"}}), "select * from Clientes where [Precio] >1.5");
    EXPECT_EQ(rangeSql("*", "Clientes", "Precio", "0.25", "*"),
              "select * from Clientes where [Precio] >= 0.25 ");
}

// The built texts run on the engine against a real file.
class SearchSqlEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        const QString path =
            testutil::makeSqlite(dir_, "shop.db",
                                 {"create table [Mi tabla] (ID LONG, Nombre TEXT(50), Precio CURRENCY, "
                                  "[Nombre completo] TEXT(50))",
                                  "insert into [Mi tabla] values (1, 'O''Brien', 10, 'zeta')",
                                  "insert into [Mi tabla] values (2, 'Brien', 15.5, 'alfa')",
                                  "insert into [Mi tabla] values (3, 'Obrien', 20, 'Beta')",
                                  "insert into [Mi tabla] values (4, 'Ana', 100, 'gamma')",
                                  "create table [Order] ([Yes] LONG)", "insert into [Order] values (7)"});
        db_ = dao::OpenDatabase(path);
    }

    // The IDs of the records a text selects, in the order given.
    QList<int> ids(const QString& sql, const QString& sort = QString()) {
        auto rs = db_->OpenRecordset(sql);
        if (!sort.isEmpty()) {
            rs->setSort(sort);
            rs = rs->OpenRecordset();
        }
        QList<int> out;
        for (long long r = 0; r < rs->RecordCount(); ++r) out << int(rs->valueAt(r, 0).asDouble());
        return out;
    }

    QTemporaryDir dir_;
    std::shared_ptr<dao::Database> db_;
};

TEST_F(SearchSqlEngineTest, SearchesRangesAndOrderingRun) {
    EXPECT_EQ(ids(recordSourceSql("*", "Mi tabla")), QList<int>({1, 2, 3, 4}));
    // Row types straight from the engine's fields.
    auto rs = db_->OpenRecordset(recordSourceSql("*", "Mi tabla"));
    const SearchRow nombre{"Nombre", rs->Fields()[1].Type(), "O'Br"};
    const SearchRow precio{"Precio", rs->Fields()[2].Type(), "12"};
    ASSERT_TRUE(isNumericFieldType(precio.fieldType));
    ASSERT_FALSE(isNumericFieldType(nombre.fieldType));
    EXPECT_EQ(ids(searchSql("*", "Mi tabla", "Like", {nombre})), QList<int>({1}));
    EXPECT_EQ(ids(searchSql("*", "Mi tabla", "=", {{"Nombre", kText, "O'Brien"}})), QList<int>({1}));
    EXPECT_EQ(ids(searchSql("*", "Mi tabla", ">", {{"Nombre", kText, "brien"}, precio})), QList<int>({2}));
    EXPECT_EQ(ids(searchSql("*", "Mi tabla", "Like", {{"Nombre", kText, "brien"}, {"Precio", 5, "20xyz"}})),
              QList<int>({3}));

    EXPECT_EQ(ids(*rangeSql("*", "Mi tabla", "Precio", "10", "20")), QList<int>({1, 2, 3}));
    EXPECT_EQ(ids(*rangeSql("*", "Mi tabla", "Precio", "*", "15.5")), QList<int>({1, 2}));
    EXPECT_EQ(ids(*rangeSql("*", "Mi tabla", "Precio", "16", "*")), QList<int>({3, 4}));
    EXPECT_TRUE(ids(*rangeSql("*", "Mi tabla", "Precio", "*", "*")).isEmpty());

    // Ordering by a field whose name holds a blank, case-insensitively as the engine compares text.
    EXPECT_EQ(ids(recordSourceSql("*", "Mi tabla"), sortExpression("Nombre completo")),
              QList<int>({2, 3, 4, 1}));
    // A reserved table name and a field named like a constant.
    EXPECT_EQ(ids(recordSourceSql("*", "Order"), sortExpression("Yes")), QList<int>({7}));
    EXPECT_EQ(ids(searchSql("*", "Order", "=", {{"Yes", kLong, "7"}})), QList<int>({7}));
}
