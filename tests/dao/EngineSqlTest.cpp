// Jet SQL texts as the windows build them, run with Jet's meaning over SQLite, and the error
// numbers of bad texts.

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "EngineTestUtil.h"
#include "TestUtil.h"

using dao::Variant;
using enginetest::column;
using enginetest::committedRows;

namespace {

class EngineSql : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        path_ = testutil::makeSqlite(
            dir_, "shop.db",
            {"create table Clientes (ID LONG, Nombre TEXT(50), Precio CURRENCY, Cantidad LONG, f DOUBLE, "
             "Alta DATETIME)",
             "insert into Clientes values (1, 'Abel', 10, 12, 5, #1/15/2024#)",
             "insert into Clientes values (2, 'Cabaña', 15, 3, 100, #3/1/2024 10:30:00 AM#)",
             "insert into Clientes values (3, 'ÑANDÚ', 20.5, 12, 4.9, #2023-12-31#)",
             "insert into Clientes values (4, 'it''s', 16, 0, 100.5, Null)",
             "insert into Clientes values (5, 'abcd', 15.01, 7, 50, Null)",
             "insert into Clientes values (6, 'Xab y', Null, Null, Null, Null)",
             "insert into Clientes values (7, 'Zoe', 8, 12, -1, Null)",
             "insert into Clientes values (8, 'R2D2', 1, 1, 1, Null)"});
        db_ = dao::OpenDatabase(path_);
    }

    // The IDs a text selects, in recordset order.
    QString ids(const QString& sql) {
        try {
            auto rs = db_->OpenRecordset(sql);
            return column(*rs, "ID").join(',');
        } catch (const dao::Error& e) {
            return QString("error %1: %2").arg(e.number()).arg(e.description());
        }
    }
    QString where(const QString& condition) { return ids("select * from Clientes where " + condition); }

    QTemporaryDir dir_;
    QString path_;
    std::shared_ptr<dao::Database> db_;
};

TEST_F(EngineSql, LikeIsCaseInsensitiveContainsAlsoForAccents) {
    EXPECT_EQ(ids("select * from Clientes where [Nombre] like '*ab*'"), "1,2,5,6");
    EXPECT_EQ(where("[Nombre] like '*AB*'"), "1,2,5,6");
    EXPECT_EQ(where("[Nombre] like '*ñandú*'"), "3");
    EXPECT_EQ(where("[Nombre] like '*Ú'"), "3");
    EXPECT_EQ(where("[Nombre] like '*AÑ*'"), "2");
    EXPECT_EQ(where("[Nombre] like '*nandu*'"), "");  // accented letters are letters of their own
    EXPECT_EQ(where("[Nombre] like 'abe?'"), "1");
    EXPECT_EQ(where("[Nombre] like '?oe'"), "7");
    EXPECT_EQ(where("[Nombre] like '*#*'"), "8");
    EXPECT_EQ(where("[Nombre] like 'R#D#'"), "8");
    EXPECT_EQ(where("[Nombre] like '[a-c]*'"), "1,2,5");
    EXPECT_EQ(where("[Nombre] like '[!a]*'"), "2,3,4,6,7,8");
    EXPECT_EQ(where("[Nombre] like 'it''s'"), "4");
    EXPECT_EQ(where("[Nombre] like '*'"), "1,2,3,4,5,6,7,8");
    EXPECT_EQ(where("[Nombre] not like '*a*'"), "4,7,8");
    // % and _ are plain characters in a Jet pattern.
    EXPECT_EQ(where("[Nombre] like '%ab%'"), "");
    EXPECT_EQ(where("[Nombre] like 'Abe_'"), "");
}

// "*text*" with ASCII text is searched on the stored bytes; the few characters that fold to ASCII
// letters (the Kelvin sign, the long s) must still match as their folded letters.
TEST_F(EngineSql, ContainsSearchMatchesCharactersThatFoldToAscii) {
    db_->Execute(QString("insert into Clientes (ID, Nombre) values (9, 'Ca%1a %2elvin')")
                     .arg(QChar(0x00F1))
                     .arg(QChar(0x212A)));
    db_->Execute(QString("insert into Clientes (ID, Nombre) values (10, 'Mi%1%2i%1%1ippi')")
                     .arg(QChar(0x017F))
                     .arg(QChar('s')));
    db_->Execute("insert into Clientes (ID, Nombre) values (11, 'KELVIN')");
    EXPECT_EQ(where("[Nombre] like '*kelvin*'"), "9,11");
    EXPECT_EQ(where("[Nombre] like '*A KE*'"), "9");
    EXPECT_EQ(where("[Nombre] like '*ssiss*'"), "10");
    EXPECT_EQ(where("[Nombre] like '*a*'"), "1,2,3,5,6,9");
    EXPECT_EQ(where("[Nombre] like '*zz*'"), "");
    EXPECT_EQ(where("[Nombre] like '*2d2*'"), "8");
    // Accented literals: the ASCII part narrows, the whole literal decides.
    EXPECT_EQ(where("[Nombre] like '*aña k*'"), "9");
    EXPECT_EQ(where("[Nombre] like '*ABAÑ*'"), "2");
    EXPECT_EQ(where("[Nombre] like '*añA*'"), "2,9");
    EXPECT_EQ(where("[Nombre] like '*ñandú*'"), "3");
    EXPECT_EQ(where("[Nombre] like '*ña ze*'"), "");
}

TEST_F(EngineSql, ComparisonsAsTheWindowsWriteThem) {
    EXPECT_EQ(where("[Precio] >15"), "3,4,5");
    EXPECT_EQ(where("[Cantidad] =12"), "1,3,7");
    EXPECT_EQ(where("[f]>= 5 and [f] <= 100"), "1,2,5");
    EXPECT_EQ(where("[f] >= 5 "), "1,2,4,5");
    EXPECT_EQ(ids("select * from Clientes where ID = 7"), "7");
    EXPECT_EQ(ids("SELECT * FROM Clientes WHERE id=7;"), "7");
    EXPECT_EQ(where("[Nombre] = 'it''s'"), "4");
    EXPECT_EQ(where("[Precio] is null"), "6");
    EXPECT_EQ(where("not [Precio] > 0"), "");  // Null is never true
    EXPECT_EQ(where("[Precio] = 15.01"), "5");
    EXPECT_EQ(where("[ID] in (2, 4) or [Nombre] = 'Zoe'"), "2,4,7");
    EXPECT_EQ(where("[f] between 4.9 and 5"), "1,3");
    EXPECT_EQ(where("[Cantidad] mod 2 = 1"), "2,5,8");
    EXPECT_EQ(where("[Nombre] & 'x' = 'abcdx'"), "5");
}

TEST_F(EngineSql, TextEqualityAndOrderIgnoreCase) {
    EXPECT_EQ(where("[Nombre] = 'ABEL'"), "1");
    EXPECT_EQ(where("[Nombre] = 'ñandú'"), "3");
    EXPECT_EQ(where("Nombre = 'xAB Y'"), "6");
    EXPECT_EQ(where("[Nombre] <> 'abel' and [ID] < 3"), "2");
    EXPECT_EQ(where("[Nombre] > 'b' and [Nombre] < 'd'"), "2");
    EXPECT_EQ(ids("select * from Clientes order by [Nombre]"), "5,1,2,4,3,8,6,7");
    EXPECT_EQ(ids("select * from Clientes order by Nombre desc"), "7,6,8,3,4,2,1,5");
    EXPECT_EQ(ids("select * from Clientes order by [Precio] desc, [ID]"), "3,4,5,2,1,7,8,6");
    // Accented letters sort with their base letter (so "Ñu", a prefix of "nu...", comes first).
    db_->Execute("create table W (w TEXT(10))");
    for (const char* w : {"nube", "Ñu", "oso", "Nada", "ála", "azul"})
        db_->Execute(QString("insert into W values ('%1')").arg(QString::fromUtf8(w)));
    EXPECT_EQ(column(*db_->OpenRecordset("select * from W order by w"), "w"),
              QStringList({"ála", "azul", "Nada", "Ñu", "nube", "oso"}));
}

TEST_F(EngineSql, DateLiterals) {
    EXPECT_EQ(where("[Alta] >= #1/1/2024#"), "1,2");
    EXPECT_EQ(where("[Alta] = #2024-01-15#"), "1");
    EXPECT_EQ(where("[Alta] = #3/1/2024 10:30:00 AM#"), "2");
    EXPECT_EQ(where("[Alta] < #12/31/2023 00:00:01#"), "3");
    EXPECT_EQ(where("[Alta] between #12/31/2023# and #1/31/2024#"), "1,3");
    EXPECT_EQ(ids("select * from Clientes where [Alta] is not null order by [Alta] desc"), "2,1,3");
    auto rs = db_->OpenRecordset("select * from Clientes where ID = 2");
    EXPECT_EQ(rs->Fields()["Alta"].Value().toDateTime(), QDateTime(QDate(2024, 3, 1), QTime(10, 30)));
}

TEST_F(EngineSql, SelectListsAndUpdatableQueries) {
    auto rs = db_->OpenRecordset("select [Nombre],* from Clientes");
    ASSERT_EQ(rs->Fields().Count(), 7);
    EXPECT_EQ(rs->Fields()[0].Name(), "Nombre");
    EXPECT_EQ(rs->Fields()[0].Type(), dao::dbText);
    EXPECT_EQ(rs->Fields()[1].Name(), "ID");
    EXPECT_EQ(rs->Fields()[0].Value(), rs->Fields()[2].Value());
    EXPECT_EQ(rs->RecordCount(), 8);
    EXPECT_TRUE(rs->Updatable());
    // The same column twice: an edit through one shows in both.
    rs->Edit();
    rs->Fields()[0].setValue(Variant::fromString("Abelardo"));
    rs->Update();
    EXPECT_EQ(rs->Fields()[2].Value(), Variant::fromString("Abelardo"));
    EXPECT_EQ(committedRows(path_, "select Nombre from Clientes where ID = 1"), QStringList{"Abelardo"});

    auto some =
        db_->OpenRecordset("select ID, [Precio] * 2 as Doble from Clientes where ID <= 2 order by ID");
    EXPECT_EQ(some->Fields().Count(), 2);
    EXPECT_EQ(some->Fields()["Doble"].Value().asDouble(), 20.0);
    some->Edit();
    EXPECT_ANY_THROW(some->Fields()["Doble"].setValue(Variant::fromLong(1)));  // an expression
    some->CancelUpdate();

    auto top = db_->OpenRecordset("select top 3 * from Clientes order by [Precio] desc");
    EXPECT_EQ(column(*top, "ID").join(','), "3,4,5");
}

TEST_F(EngineSql, ActionQueries) {
    EXPECT_EQ(db_->Execute("update Clientes set [Precio] = [Precio] * 2 where [Nombre] like 'a*'"), 2);
    EXPECT_EQ(where("[Precio] = 20"), "1");
    EXPECT_EQ(db_->Execute("delete * from Clientes where [Nombre] = 'R2D2'"), 1);
    EXPECT_EQ(db_->Execute("insert into Clientes (ID, Nombre, Alta) values (9, 'Nuevo', #12/24/2024#)"), 1);
    EXPECT_EQ(committedRows(path_, "select Nombre, Alta from Clientes where ID = 9"),
              QStringList{"Nuevo|2024-12-24 00:00:00"});
    EXPECT_EQ(db_->Execute("update Clientes set Cantidad = 0 where ID > 100"), 0);
    EXPECT_DAO_ERROR(db_->Execute("select * from Clientes"), 3075);
}

TEST_F(EngineSql, ErrorNumbers) {
    EXPECT_DAO_ERROR(db_->OpenRecordset("select [Nada] from Clientes"), 3061);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where [Nada] = 1"), 3061);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where Nada like '*a*'"), 3061);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes order by [Nada]"), 3061);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Nadie"), 3078);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from [Nadie] where ID = 1"), 3078);
    EXPECT_DAO_ERROR(db_->OpenRecordset("Nadie"), 3078);
    EXPECT_DAO_ERROR(db_->Execute("update Nadie set x = 1"), 3078);
    EXPECT_DAO_ERROR(db_->Execute("update Clientes set Nada = 1"), 3061);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where"), 3075);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where [Precio] >"), 3075);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where (ID = 1"), 3075);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where [Nombre] = 'open"), 3075);
    EXPECT_DAO_ERROR(db_->OpenRecordset("select * from Clientes where [Nombre] like"), 3075);
    // The engine stays usable after errors.
    EXPECT_EQ(where("ID = 1"), "1");
}

}  // namespace

// Criteria comparing a date or number field with a text: a date text is taken as a date, anything
// else is refused as the file format's own engine refuses it.
TEST(EngineSqlTyped, TextComparedWithDateOrNumberField) {
    QTemporaryDir dir;
    const QString path = testutil::makeSqlite(
        dir, "typed.db",
        {"CREATE TABLE t (id INTEGER PRIMARY KEY, alta DATETIME, n LONG, s TEXT(10))",
         "INSERT INTO t VALUES (1, '2020-01-02 00:00:00', 5, 'x')",
         "INSERT INTO t VALUES (2, '2021-03-04 10:00:00', 6, 'y')"});
    auto db = dao::OpenDatabase(path);
    EXPECT_EQ(db->OpenRecordset("select * from t where [alta] = '1/2/2020'")->RecordCount(), 1);
    EXPECT_EQ(db->OpenRecordset("select * from t where [alta] >= '2021-01-01'")->RecordCount(), 1);
    EXPECT_EQ(db->OpenRecordset("select * from t where [n] = '6'")->RecordCount(), 1);
    for (const char* sql : {"select * from t where [alta] = 'Ana'", "select * from t where [n] > 'abc'"}) {
        try {
            db->OpenRecordset(sql);
            ADD_FAILURE() << sql;
        } catch (const dao::Error& e) {
            EXPECT_EQ(e.number(), 3464) << sql;
        }
    }
    auto rs = db->OpenRecordset("t");
    rs->FindFirst("[alta] = '3/4/2021 10:00:00 AM'");
    EXPECT_FALSE(rs->NoMatch());
    EXPECT_EQ(rs->Fields()["id"].Value().asInt(), 2);
}

TEST_F(EngineSql, LikeOverNonAsciiTextsFoldsAsUnicodeDoes) {
    db_->Execute("create table W (ID LONG, Nombre TEXT(30))");
    db_->Execute(QString("insert into W values (1, '%1elvin año')").arg(QChar(0x212A)));  // KELVIN SIGN
    db_->Execute(QString("insert into W values (2, 'Mi%1a año 12')").arg(QChar(0x17F)));   // LONG S
    db_->Execute("insert into W values (3, 'Ñandú 12')");
    db_->Execute("insert into W values (4, 'plain 21')");
    EXPECT_EQ(ids("select * from W where Nombre like '*kel*'"), "1");
    EXPECT_EQ(ids("select * from W where Nombre like '*isa*'"), "2");
    EXPECT_EQ(ids("select * from W where Nombre like '*12*'"), "2,3");
    EXPECT_EQ(ids("select * from W where Nombre like '*AÑO*'"), "1,2");
    EXPECT_EQ(ids("select * from W where Nombre like '*n 2*'"), "4");
}
