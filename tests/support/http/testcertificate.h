#pragma once

#include <QSslCertificate>
#include <QSslKey>
#include <QString>

namespace ORVIK {

// A self-signed certificate for 127.0.0.1, ::1 and localhost, made by the openssl command into a
// temporary folder that is gone when generate() returns. No client trusts it unless told to.
struct TestCertificate
{
    QSslCertificate certificate;
    QSslKey privateKey;
    QString error; // why generation failed; empty on success

    bool isValid() const { return error.isEmpty() && !certificate.isNull() && !privateKey.isNull(); }

    static TestCertificate generate();
};

} // namespace ORVIK
