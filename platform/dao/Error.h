#pragma once

#include <QString>
#include <exception>
#include <string>

namespace dao {

// The one error type of the engine and of the run-time conversions: a number and a description.
// 3xxx are engine errors; 5, 6, 9, 13, 68, 94 and 32755 are run-time errors.
class Error : public std::exception {
public:
    Error(int number, QString description);
    int number() const noexcept { return number_; }
    const QString& description() const noexcept { return description_; }
    const char* what() const noexcept override { return what_.c_str(); }

private:
    int number_;
    QString description_;
    std::string what_;
};

// Well-known numbers.
namespace err {
constexpr int InvalidProcedureCall = 5;
constexpr int Overflow = 6;
constexpr int SubscriptOutOfRange = 9;
constexpr int TypeMismatch = 13;
constexpr int DeviceUnavailable = 68;
constexpr int InvalidUseOfNull = 94;
constexpr int Reserved = 3000;
constexpr int InvalidArgument = 3001;
constexpr int NoCurrentRecord = 3021;
constexpr int DiskFull = 3026;
constexpr int RelatedRecordRequired = 3201;
constexpr int Locked = 3260;
constexpr int ValidationRule = 3317;
constexpr int ObjectClosed = 3420;
constexpr int DuplicateValue = 3022;
constexpr int DatabaseExists = 3204;
constexpr int FileNotFound = 3024;
constexpr int ReadOnly = 3027;
constexpr int NotValidPassword = 3031;
constexpr int ItemNotFound = 3265;
constexpr int NullInPrimaryKey = 3058;
constexpr int TooFewParameters = 3061;
constexpr int UnknownSortField = 3070;
constexpr int SyntaxError = 3075;
constexpr int TableNotFound = 3078;
constexpr int CharactersAfterEnd = 3142;
constexpr int FieldTooSmall = 3163;
constexpr int FieldNotUpdatable = 3164;
constexpr int RecordDeleted = 3167;
constexpr int DataChanged = 3197;
constexpr int RelatedRecords = 3200;
constexpr int NullNotAllowed = 3314;
constexpr int UnrecognizedFormat = 3343;
constexpr int ConversionError = 3421;
constexpr int UpdateWithoutAddNew = 3020;
constexpr int DataTypeMismatch = 3464;
constexpr int Cancelled = 32755;
}  // namespace err

// Description texts for the numbers above, in our own words.
QString describe(int number);
[[noreturn]] void raise(int number);
[[noreturn]] void raise(int number, const QString& description);

}  // namespace dao
