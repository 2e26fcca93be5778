#pragma once

#include "webhost/engine/engine.h"

// The engine application object: what every engine process is told about this program.
class ClientApp : public engine::App {
  public:
    ClientApp();

    // Schemes whose responses may set cookies; http and https.
    QStringList cookieableSchemes() const override;
    // The renderer side of the page bridge ("cefQuery", "setMessageCallback").
    QString rendererScript() const override;
};
