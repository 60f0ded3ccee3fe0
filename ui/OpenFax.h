// A send dialog that is open and can take more documents into its fax:
// a document printed while it is open may be added to it rather than
// starting a fax of its own.
#pragma once

#include <QString>
#include <QStringList>

namespace miravo::ui {

class OpenFax {
  public:
    virtual ~OpenFax() = default;
    // What tells this fax apart from other open ones when the user chooses
    // where a printed document goes (its documents' names and page count).
    virtual QString description() const = 0;
    // Adds documents (printed job files or document files, local names) at
    // the end of the fax, in the given order; each is converted as when it
    // is chosen in the dialog, and a refusal is told in the dialog.
    virtual void addDocuments(const QStringList& files) = 0;
};

}  // namespace miravo::ui
