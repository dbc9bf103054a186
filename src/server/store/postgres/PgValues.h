#pragma once

// Conversions between the store's values (Qt strings, byte arrays) and libpqxx's parameters and fields.

#include <pqxx/binarystring>
#include <pqxx/field>

#include <QByteArray>
#include <QString>

#include <string>

namespace server::pg {

inline std::string str(const QString &text)
{
    return text.toStdString();
}

inline QString qstr(const pqxx::field &field)
{
    return QString::fromStdString(field.as<std::string>());
}

inline pqxx::binarystring bytes(const QByteArray &data)
{
    return pqxx::binarystring(data.constData(), std::size_t(data.size()));
}

inline pqxx::binarystring bytes(const char *data, std::size_t size)
{
    return pqxx::binarystring(data, size);
}

inline std::string stdBytes(const pqxx::field &field)
{
    const pqxx::binarystring value(field);
    return std::string(value.get(), value.size());
}

inline QByteArray qBytes(const pqxx::field &field)
{
    const pqxx::binarystring value(field);
    return QByteArray(value.get(), qsizetype(value.size()));
}

} // namespace server::pg
