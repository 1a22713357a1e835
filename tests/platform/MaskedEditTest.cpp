#include <gtest/gtest.h>

#include <QTest>

#include "QStringPrint.h"
#include "platform/MaskedEdit.h"

using platform::MaskedEdit;

TEST(MaskedEdit, TypingFillsTheMaskAroundItsLiterals) {
    MaskedEdit e;
    e.setMask("##/##/####");
    EXPECT_EQ(e.Text(), "__/__/____");
    EXPECT_EQ(e.MaxLength(), 10);
    QTest::keyClicks(&e, "3112");
    EXPECT_EQ(e.Text(), "31/12/____");
    EXPECT_EQ(e.ClipText(), "3112");
    QTest::keyClicks(&e, "2020");
    EXPECT_EQ(e.Text(), "31/12/2020");
    // Full: further typing changes nothing.
    QTest::keyClicks(&e, "9");
    EXPECT_EQ(e.Text(), "31/12/2020");
    // Backspace empties the position before the caret.
    QTest::keyClick(&e, Qt::Key_Backspace);
    EXPECT_EQ(e.Text(), "31/12/202_");
}

TEST(MaskedEdit, PlaceholdersRejectWhatTheyDoNotTake) {
    MaskedEdit e;
    e.setMask("(###) ###-####");
    QTest::keyClicks(&e, "5a55x");  // letters refused
    EXPECT_EQ(e.Text(), "(555) ___-____");
    QTest::keyClicks(&e, "12-3");  // a typed literal steps to its position
    EXPECT_EQ(e.Text(), "(555) 12_-3___");

    e.setMask(
        "?"
        "?-AA");
    e.setText("");
    QTest::keyClicks(&e, "1aB2c3");
    EXPECT_EQ(e.Text(), "aB-2c");

    e.setMask("&&&");
    e.setText("");
    QTest::keyClicks(&e, "#/");
    QTest::sendKeyEvent(QTest::Click, &e, Qt::Key_unknown, QString("ñ"), Qt::NoModifier);
    EXPECT_EQ(e.Text(), "#/ñ");
}

TEST(MaskedEdit, CaseConversionAndEscapedLiterals) {
    MaskedEdit e;
    e.setMask(
        ">?"
        "?<?"
        "?");
    QTest::keyClicks(&e, "abCD");
    EXPECT_EQ(e.Text(), "ABcd");

    // '\' makes a placeholder literal; characters that mean something to Qt's own masks are plain
    // literals here, and so is ';'.
    e.setMask("\\#\\A-#;N!X[#]");
    EXPECT_EQ(e.Text(), "#A-_;N!X[_]");
    QTest::keyClicks(&e, "12");
    EXPECT_EQ(e.Text(), "#A-1;N!X[2]");
    EXPECT_EQ(e.ClipText(), "12");
    e.setText("#A-7;N!X[8]");
    EXPECT_EQ(e.Text(), "#A-7;N!X[8]");
}

TEST(MaskedEdit, SetTextTakesTextWithOrWithoutLiterals) {
    MaskedEdit e;
    e.setMask("##/##/####");
    e.setText("31122020");
    EXPECT_EQ(e.Text(), "31/12/2020");
    e.setText("01/02/2003");
    EXPECT_EQ(e.Text(), "01/02/2003");
    e.setText("12/__/2020");
    EXPECT_EQ(e.Text(), "12/__/2020");
    e.setText("");
    EXPECT_EQ(e.Text(), "__/__/____");
    EXPECT_EQ(e.ClipText(), "");
}

TEST(MaskedEdit, ClearingThroughAnEmptyMaskAsTheSaveDoes) {
    MaskedEdit e;
    e.setMask("###-###");
    e.setText("123456");
    const QString kept = e.Mask();
    e.setMask("");
    EXPECT_EQ(e.Text(), "123-456");  // removing the mask keeps the text as it read
    e.setText("");
    e.setMask(kept);
    EXPECT_EQ(e.Text(), "___-___");
    // A new mask takes the old text in.
    e.setText("12");
    e.setMask("##.##");
    EXPECT_EQ(e.Text(), "12.__");
}

TEST(MaskedEdit, FreeTextAndMaxLength) {
    MaskedEdit e;
    EXPECT_EQ(e.MaxLength(), 0);
    QTest::keyClicks(&e, "any text / 12");
    EXPECT_EQ(e.Text(), "any text / 12");

    e.setText("");
    e.setMaxLength(5);
    QTest::keyClicks(&e, "abcdefg");
    EXPECT_EQ(e.Text(), "abcde");
    e.setText("123456789");
    EXPECT_EQ(e.Text(), "12345");

    // A mask sets the length; the free-text limit comes back with the mask removed.
    e.setMask("##");
    EXPECT_EQ(e.MaxLength(), 2);
    e.setMask("");
    EXPECT_EQ(e.MaxLength(), 5);
    e.setMaxLength(0);
    e.setText(QString(300, 'x'));
    EXPECT_EQ(e.Text().size(), 300);
}

TEST(MaskedEdit, SelectionStartAndLength) {
    MaskedEdit e;
    e.setText("hello world");
    e.setSelStart(0);
    e.setSelLength(int(e.Text().size()));
    EXPECT_EQ(e.SelStart(), 0);
    EXPECT_EQ(e.SelLength(), 11);
    EXPECT_EQ(e.selectedText(), "hello world");
    // Typing replaces the selection.
    QTest::keyClicks(&e, "bye");
    EXPECT_EQ(e.Text(), "bye");
    EXPECT_EQ(e.SelStart(), 3);
    EXPECT_EQ(e.SelLength(), 0);

    e.setText("abcdef");
    e.setSelStart(2);
    e.setSelLength(3);
    EXPECT_EQ(e.selectedText(), "cde");
    e.setSelLength(100);  // clamped to the text's end
    EXPECT_EQ(e.SelLength(), 4);
    e.setSelStart(1);  // a new start drops the selection
    EXPECT_EQ(e.SelLength(), 0);
    EXPECT_EQ(e.SelStart(), 1);

    // With a mask, typing over a selection starts at its first position.
    e.setMask("##-##");
    e.setText("1234");
    e.setSelStart(3);
    e.setSelLength(2);
    QTest::keyClicks(&e, "9");
    EXPECT_EQ(e.Text(), "12-9_");
}
