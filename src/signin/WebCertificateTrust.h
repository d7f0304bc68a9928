#pragma once

class QWebEngineCertificateError;

// The web views' answer to a certificate error: accepted only when the
// server's chain verifies, host name included, against what this process's
// TLS configuration trusts (the system store and any authority the program
// added to the default QSslConfiguration), as the token fetches do; every
// other error is refused.
void answerWebCertificateError(QWebEngineCertificateError &error);
