#include "Error.h"

namespace dao {

Error::Error(int number, QString description)
    : number_(number),
      description_(std::move(description)),
      what_(("error " + QString::number(number_) + ": " + description_).toStdString()) {}

QString describe(int number) {
    switch (number) {
        case err::InvalidProcedureCall: return QStringLiteral("Invalid procedure call or argument");
        case err::Overflow: return QStringLiteral("Overflow");
        case err::SubscriptOutOfRange: return QStringLiteral("Subscript out of range");
        case err::TypeMismatch: return QStringLiteral("Type mismatch");
        case err::DeviceUnavailable: return QStringLiteral("Device unavailable");
        case err::InvalidUseOfNull: return QStringLiteral("Invalid use of Null");
        case err::UpdateWithoutAddNew: return QStringLiteral("Update without AddNew or Edit.");
        case err::Reserved: return QStringLiteral("Engine error.");
        case err::InvalidArgument: return QStringLiteral("Invalid argument.");
        case err::DiskFull: return QStringLiteral("Not enough space on disk.");
        case err::RelatedRecordRequired:
            return QStringLiteral("You cannot add or change a record because a related record is required in "
                                  "another table.");
        case err::Locked: return QStringLiteral("Could not update; the file is locked by another program.");
        case err::ValidationRule:
            return QStringLiteral("One or more values are prohibited by the validation rule set for the table.");
        case err::ObjectClosed: return QStringLiteral("Object invalid or no longer set.");
        case err::NoCurrentRecord: return QStringLiteral("No current record.");
        case err::DuplicateValue:
            return QStringLiteral("The changes were not made because they would create duplicate values in "
                                  "a unique index or primary key.");
        case err::DatabaseExists: return QStringLiteral("Database already exists.");
        case err::FileNotFound: return QStringLiteral("Could not find file.");
        case err::ReadOnly: return QStringLiteral("Cannot update. Database or object is read-only.");
        case err::NotValidPassword: return QStringLiteral("Not a valid password.");
        case err::TooFewParameters: return QStringLiteral("Too few parameters: unknown field name.");
        case err::UnknownSortField: return QStringLiteral("The engine does not recognize the field name.");
        case err::SyntaxError: return QStringLiteral("Syntax error in query expression.");
        case err::TableNotFound: return QStringLiteral("The engine cannot find the input table or query.");
        case err::ItemNotFound: return QStringLiteral("Item not found in this collection.");
        case err::FieldTooSmall:
            return QStringLiteral("The field is too small to accept the amount of data you attempted to add.");
        case err::FieldNotUpdatable: return QStringLiteral("Field cannot be updated.");
        case err::RecordDeleted: return QStringLiteral("Record is deleted.");
        case err::DataChanged: return QStringLiteral("The data has been changed by another user.");
        case err::RelatedRecords:
            return QStringLiteral("The record cannot be deleted or changed because a related table includes "
                                  "related records.");
        case err::NullInPrimaryKey: return QStringLiteral("Index or primary key cannot contain a Null value.");
        case err::NullNotAllowed: return QStringLiteral("The field cannot contain a Null value.");
        case err::UnrecognizedFormat: return QStringLiteral("Unrecognized database format.");
        case err::ConversionError: return QStringLiteral("Data type conversion error.");
        case err::DataTypeMismatch: return QStringLiteral("Data type mismatch in criteria expression.");
        case err::Cancelled: return QStringLiteral("Cancelled.");
        default: return QStringLiteral("Application-defined or object-defined error");
    }
}

void raise(int number) { throw Error(number, describe(number)); }
void raise(int number, const QString& description) { throw Error(number, description); }

}  // namespace dao
