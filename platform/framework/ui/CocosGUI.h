// The widget module: every ui:: class in one include.
#pragma once

#include "ui/UIButton.h"
#include "ui/UICheckBox.h"
#include "ui/UIHelper.h"
#include "ui/UIImageView.h"
#include "ui/UILayout.h"
#include "ui/UILayoutParameter.h"
#include "ui/UIMargin.h"
#include "ui/UIScale9Sprite.h"
#include "ui/UISlider.h"
#include "ui/UIText.h"
#include "ui/UITextField.h"
#include "ui/UIWidget.h"
