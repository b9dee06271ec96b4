#include "Parameter.h"

#include "HostProvider_p.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace Kor::NS {

Parameter::Parameter(const QString& longName, const QString& shortName, const QString& propertyName,
                     const QString& functionName, Parameter::Type type, const QString& description)
    : QObject(nullptr), m_longName(longName), m_shortName(shortName), m_description(description),
      m_propertyName(propertyName), m_functionName(functionName), m_type(type)
{
}

Parameter& Parameter::operator=(const Parameter& other)
{
    m_propertyName = other.m_propertyName;
    m_longName = other.m_longName;
    m_shortName = other.m_shortName;
    m_functionName = other.m_functionName;
    m_type = other.m_type;
    return *this;
}

bool Parameter::operator==(const Parameter& other) const
{
    return m_propertyName == other.m_propertyName && m_longName == other.m_longName
        && m_shortName == other.m_shortName && m_functionName == other.m_functionName
        && m_type == other.m_type;
}

Parameter::ProcessState Parameter::assignValues(const QList<QVariant>& values)
{
    QVariant value;
    switch (m_type) {
    case NoValue: value = QVariant(true); break;
    case SingleValue: value = values.isEmpty() ? QVariant() : values.first(); break;
    case MultipleValues: value = QVariant(values); break;
    default: return Unhandled;
    }
    if (!m_propertyName.isEmpty() && QCoreApplication::instance())
        QCoreApplication::instance()->setProperty(m_propertyName.toLocal8Bit().constData(), value);
    if (m_functionName.isEmpty())
        return Continue;

    HostProvider* host = hostProvider();
    QObject* receiver = host ? host->parameterReceiver() : nullptr;
    if (!receiver)
        return Failed;
    const QByteArray function = m_functionName.toLatin1();
    Parameter::ProcessState state = Failed;
    const QGenericReturnArgument result("Parameter::ProcessState", &state);
    bool invoked = false;
    if (m_type == NoValue)
        invoked = QMetaObject::invokeMethod(receiver, function.constData(), Qt::DirectConnection, result);
    else if (m_type == SingleValue)
        invoked = QMetaObject::invokeMethod(receiver, function.constData(), Qt::DirectConnection, result,
                                            QGenericArgument("QVariant", &value));
    else
        invoked = QMetaObject::invokeMethod(receiver, function.constData(), Qt::DirectConnection, result,
                                            QGenericArgument("QVariantList", &values));
    return invoked ? state : Failed;
}

} // namespace Kor::NS
