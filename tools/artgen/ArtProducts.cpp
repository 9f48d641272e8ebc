#include "ArtProducts.h"

#include "ActionIcons.h"

const std::vector<ArtProduct>& artProducts() {
    static const std::vector<ArtProduct> products = {
        {QStringLiteral("action-icons"),
         QStringLiteral("48x48 icons of the multimedia verbs (ACTION_*.png)"), drawActionIcons},
    };
    return products;
}
