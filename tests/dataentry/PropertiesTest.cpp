#include <QBuffer>
#include <QFile>
#include <QImage>
#include <QMetaObject>
#include <QSignalSpy>

#include "../platform/QStringPrint.h"
#include "DataEntryTestUtil.h"
#include "dataentry/PropertyBag.h"
#include "platform/dao/Conversions.h"

using dataentry::DataEntryForm;
using dataentry::PropertyBag;
using namespace platform;

namespace {

QPixmap redSquare() {
    QImage img(8, 8, QImage::Format_RGB32);
    img.fill(Qt::red);
    return QPixmap::fromImage(img);
}

}  // namespace

TEST(PropertyBagTest, DefaultsAreOmittedNamesIgnoreCaseAndTheFileRoundTrips) {
    PropertyBag bag;
    bag.WriteProperty("Caption", "same", "same");
    EXPECT_TRUE(bag.isEmpty());
    bag.WriteProperty("Caption", "Line 1\nback\\slash\r", "");
    bag.WriteProperty("Flag", true, false);
    bag.WriteProperty("Size", 9790, 0);
    bag.WriteProperty("Picture", QByteArray("\x89PNG\0bytes", 10), QByteArray());
    EXPECT_EQ(bag.ReadProperty("caption").toString(), "Line 1\nback\\slash\r");
    EXPECT_EQ(bag.ReadProperty("missing", "dflt").toString(), "dflt");
    // Writing the default again removes the stored value.
    bag.WriteProperty("FLAG", false, false);
    EXPECT_FALSE(bag.contains("Flag"));

    QTemporaryDir dir;
    const QString path = dir.filePath("x.bag");
    bag.save(path);
    const PropertyBag back = PropertyBag::load(path);
    EXPECT_EQ(back.names(), QStringList({"Caption", "Size", "Picture"}));
    EXPECT_EQ(back.ReadProperty("CAPTION").toString(), "Line 1\nback\\slash\r");
    EXPECT_EQ(back.ReadProperty("size").toLongLong(), 9790);
    EXPECT_EQ(back.ReadProperty("picture").toByteArray(), QByteArray("\x89PNG\0bytes", 10));
    EXPECT_TRUE(PropertyBag::load(dir.filePath("none.bag")).isEmpty());

    // A damaged file is refused, not half read.
    try {
        PropertyBag::fromText("Good=s:x\nBad line\n");
        FAIL() << "no error";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 13);
        EXPECT_TRUE(e.description().contains("line 2"));
    }
    EXPECT_THROW(PropertyBag::fromText("Flag=b:maybe"), dao::Error);
}

TEST(DataEntryPropertiesTest, FreshControlAndEmptyBag) {
    DataEntryForm f;
    EXPECT_FALSE(f.UnloadParent());
    EXPECT_TRUE(f.EnableQuickTips());
    EXPECT_FALSE(f.CloseOnOK());
    EXPECT_TRUE(f.ShowPrevData());
    EXPECT_TRUE(f.AutoResize());
    EXPECT_EQ(f.SelectedTable(), "");
    EXPECT_EQ(f.OK_CAPTION(), "&Ok");
    EXPECT_EQ(f.CLOSE_CAPTION(), "&Close");

    // A freshly placed control stores nothing.
    PropertyBag written;
    f.WriteProperties(written);
    EXPECT_TRUE(written.isEmpty()) << written.toText().toStdString();

    // An empty bag reads as the defaults, the database name included.
    f.setUnloadParent(true);
    f.setEnableQuickTips(false);
    f.ReadProperties(PropertyBag());
    EXPECT_EQ(f.DatabaseName(), "C:\\vorn.mdb");
    EXPECT_FALSE(f.UnloadParent());
    EXPECT_TRUE(f.EnableQuickTips());
    EXPECT_TRUE(f.ShowPrevData());
    EXPECT_TRUE(f.AutoResize());

    // "C:\vorn.mdb" differs from the write default, so it is stored; the write default is not.
    f.WriteProperties(written);
    EXPECT_EQ(written.names(), QStringList({"DatabaseName"}));
    f.setDatabaseName("C:\\Dalmo\\PROJECTS\\Velloset\\SmallDB.mdb");
    written.clear();
    f.WriteProperties(written);
    EXPECT_TRUE(written.isEmpty());
    f.ReadProperties(written);
    EXPECT_EQ(f.DatabaseName(), "C:\\vorn.mdb");
}

TEST(DataEntryPropertiesTest, CaptionsPicturesAndFlagsPersist) {
    QTemporaryDir dir;
    const QString path = dir.filePath("host.bag");
    {
        DataEntryForm f;
        f.setOK_CAPTION("Save");
        EXPECT_EQ(f.findChild<QToolButton*>("cmdUpdate")->text(), "Save");
        f.setOK_PICTURE(redSquare());
        f.setShowPrevData(false);
        f.setSelectedTable("Clientes");
        f.setDatabaseName("/tmp/shop.db");
        f.WritePropertiesFile(path);
    }
    const PropertyBag bag = PropertyBag::load(path);
    EXPECT_EQ(bag.names(), QStringList({"DatabaseName", "SelectedTable", "OK_PICTURE", "OK_CAPTION", "ShowPrevData"}));
    EXPECT_EQ(bag.ReadProperty("OK_CAPTION").toString(), "Save");
    EXPECT_TRUE(bag.ReadProperty("OK_PICTURE").toByteArray().startsWith("\x89PNG"));

    DataEntryForm g;
    g.ReadPropertiesFile(path);
    EXPECT_EQ(g.OK_CAPTION(), "Save");
    EXPECT_EQ(g.SelectedTable(), "Clientes");
    EXPECT_EQ(g.DatabaseName(), "/tmp/shop.db");
    EXPECT_FALSE(g.ShowPrevData());
    ASSERT_FALSE(g.OK_PICTURE().isNull());
    EXPECT_EQ(g.OK_PICTURE().toImage().pixelColor(3, 3), QColor(Qt::red));
    EXPECT_TRUE(g.CLOSE_PICTURE().isNull());

    // A damaged bag file is reported to the host and changes nothing.
    QFile bad(dir.filePath("bad.bag"));
    ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
    bad.write("OK_CAPTION=s:Nuevo\nCloseOnOK=b:perhaps\n");
    bad.close();
    const QString error = g.ReadPropertiesFile(dir.filePath("bad.bag"));
    EXPECT_TRUE(error.endsWith(" - 13")) << error.toStdString();
    EXPECT_EQ(g.OK_CAPTION(), "Save");
    EXPECT_EQ(g.ReadPropertiesFile(dir.filePath("none.bag")), "");  // no file: the defaults
    EXPECT_EQ(g.OK_CAPTION(), "&Ok");

    // The keys of a host's stored design are read whatever their case.
    DataEntryForm h;
    h.ReadProperties(PropertyBag::fromText("databasename=s:\nunloadparent=b:True\n_extentx=i:9790\n"));
    EXPECT_EQ(h.DatabaseName(), "");
    EXPECT_TRUE(h.UnloadParent());
    // A host's own keys stay in its file.
    PropertyBag withHostKeys = PropertyBag::fromText("_extentx=i:9790\n");
    withHostKeys.save(path);
    h.WritePropertiesFile(path);
    EXPECT_TRUE(PropertyBag::load(path).contains("_EXTENTX"));
}

TEST(DataEntryPropertiesTest, LateBoundHostsSeeEveryPropertyMethodAndEvent) {
    DataEntryForm f;
    QSignalSpy changed(&f, &DataEntryForm::PropertyChanged);
    const char* const names[] = {"DatabaseName", "SelectedTable", "UnloadParent",  "EnableQuickTips",
                                 "OK_PICTURE",   "CLOSE_PICTURE", "OK_CAPTION",    "CLOSE_CAPTION",
                                 "CloseOnOK",    "ShowPrevData",  "AutoResize"};
    for (const char* n : names) {
        const QVariant v = f.property(n);
        ASSERT_TRUE(v.isValid()) << n;
        ASSERT_TRUE(f.setProperty(n, v)) << n;
    }
    ASSERT_EQ(changed.count(), 11);
    for (int k = 0; k < 11; ++k) EXPECT_EQ(changed[k][0].toString(), QString::fromLatin1(names[k]));

    EXPECT_TRUE(f.setProperty("SelectedQuery", "select Nombre from Clientes"));
    EXPECT_EQ(f.SelectedQuery(), "select Nombre from Clientes");
    EXPECT_TRUE(QMetaObject::invokeMethod(&f, "SetDefault", Q_ARG(QString, "x"), Q_ARG(int, 2)));
    EXPECT_EQ(f.settings().at(2).DefaultValue, "x");
    int result = 0;
    EXPECT_TRUE(QMetaObject::invokeMethod(&f, "ValidateFixFields", Q_RETURN_ARG(int, result)));
    EXPECT_EQ(result, -1);
    EXPECT_GE(f.metaObject()->indexOfSignal("FinishedLoading()"), 0);
    const QMetaObject* mo = f.metaObject();
    EXPECT_STREQ(mo->classInfo(mo->indexOfClassInfo("Description:OK_CAPTION")).value(),
                 "Returns/sets the text displayed in an object's title bar or below an object's icon.");
    for (const char* m : {"ShowBrowseButton(int)", "SetInvisible(bool,int)", "SetIncrement(int,int)",
                          "SetDisabled(int)", "Clear()", "LoadFields()", "SetMask(QString,int)", "SetText(QString,int)"})
        EXPECT_GE(f.metaObject()->indexOfMethod(m), 0) << m;
}

TEST(DataEntryPropertiesTest, SettingsMethodsAndTheirLimits) {
    DataEntryForm f;
    PromptScript prompts;
    f.SetInvisible(true, 1001);
    ASSERT_EQ(prompts.count(), 1);
    EXPECT_EQ(prompts.last().text, "Control 1001 does not exist, the first control is 0 and the last is 0");
    EXPECT_EQ(prompts.last().icon, vbExclamation);
    f.SetInvisible(true, -1);
    EXPECT_EQ(prompts.count(), 2);

    // The other setters ignore an index outside the table without a word.
    f.SetDefault("x", 1001);
    f.SetIncrement(1, 1001);
    f.SetDisabled(-3);
    f.SetMask("##", 5000);
    f.SetText("x", 7);
    EXPECT_EQ(prompts.count(), 2);
    try {
        f.ShowBrowseButton(1001);
        FAIL() << "no error";
    } catch (const dao::Error& e) {
        EXPECT_EQ(e.number(), 9);
    }

    f.SetInvisible(true, 1000);
    f.SetDefault("d", 3);
    f.SetIncrement(2, 3);
    f.SetDisabled(4);
    f.SetMask("###", 4);
    f.ShowBrowseButton(0);
    EXPECT_TRUE(f.settings().at(1000).IsInvisible);
    EXPECT_EQ(f.settings().at(3).IncrementStep, 2);
    f.Clear();
    EXPECT_FALSE(f.settings().at(1000).IsInvisible);
    EXPECT_EQ(f.settings().at(3).DefaultValue, "");
    EXPECT_EQ(f.settings().at(3).IncrementStep, 0);
    EXPECT_FALSE(f.settings().at(4).IsDisabled);
    EXPECT_EQ(f.settings().at(4).MaskText, "");
    EXPECT_FALSE(f.settings().at(0).HasBrowse);
}
