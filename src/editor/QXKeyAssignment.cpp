#include "editor/QXKeyAssignment.h"

namespace {

QXPropertyNode::Ptr deepCopy(const QXPropertyNode::Ptr& node) {
    if (!node)
        return {};
    auto out = makeQX<QXPropertyNode>(node->name(), node->value(), node->image());
    for (const QXPropertyNode::Ptr& child : node->children())
        out->appendChild(deepCopy(child));
    return out;
}

} // namespace

QXKeyAssignment QXKeyAssignment::take(QXLayer& layer, size_t keyIndex) {
    QXKeyAssignment taken;
    QXButton* button = layer.getButton(keyIndex);
    if (!button)
        return taken;
    taken.image = button->image;
    taken.view = button->view;
    taken.action = button->action;
    taken.scanCode = button->scanCode;
    taken.actionCode = button->actionCode;
    taken.keystroke = button->keystroke;
    taken.properties = button->properties();
    layer.clearButton(keyIndex);
    button->setProperties({});
    return taken;
}

QXKeyAssignment QXKeyAssignment::copy(const QXButton& button) {
    QXKeyAssignment copied;
    if (button.image) {
        copied.image = makeQX<QXImage>(*button.image);
        if (!copied.image->isLoaded())
            copied.image->loadSource();
    }
    QXPluginInstanceFactory& factory = QXPluginInstanceFactory::current();
    if (button.view) {
        QXPropertyNode stored(u"ViewPlugin");
        button.view->saveTo(stored);
        copied.view = factory.createView(stored);
    }
    if (button.action) {
        QXPropertyNode stored(u"ActionPlugin");
        button.action->saveTo(stored);
        copied.action = factory.createAction(stored);
    }
    copied.scanCode = button.scanCode;
    copied.actionCode = button.actionCode;
    copied.keystroke = button.keystroke;
    copied.properties = deepCopy(button.properties());
    return copied;
}

void QXKeyAssignment::putInto(QXLayer& layer, size_t keyIndex) const {
    layer.clearButton(keyIndex);
    QXButton* button = layer.getButton(keyIndex);
    if (!button)
        return;
    // setAction clears the codes and setView the picture: instances first.
    if (action)
        layer.setAction(keyIndex, action);
    if (view)
        layer.setView(keyIndex, view);
    if (image)
        layer.setPicture(keyIndex, image);
    button->scanCode = scanCode;
    button->actionCode = actionCode;
    button->keystroke = keystroke;
    button->setProperties(properties);
}
