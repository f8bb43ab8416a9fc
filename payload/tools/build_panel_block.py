#!/usr/bin/env python3
"""Writes payload/pQORVEX_block.txt, the toolbar panel with the Undo button,
in the text form of the toolbar dialog's children: tabs, one field per line,
keys in alphabetical order (the panel's children: caption first, then
button), trailing commas, LF line ends.

    build_panel_block.py            write payload/pQORVEX_block.txt
    build_panel_block.py --check    exit 1 if the file differs
"""
import os
import sys

PAYLOAD_DIR = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BLOCK_PATH = os.path.join(PAYLOAD_DIR, 'pQORVEX_block.txt')
IMAGES = 'dxgui\\skins\\skinME\\images\\mission_editor\\'


class Ordered(list):
    """Fields kept in the order given instead of the alphabetical one."""


def static_state(text_color):
    return [{
        'bkg': {
            'center_top': '0xffffff19',
            'insets': {'left': 12, 'right': 12, 'top': 0},
        },
        'text': {
            'color': text_color,
            'font': 'DejaVuLGCSansCondensed-Bold.ttf',
            'fontSize': 11,
            'horzAlign': {'type': 'middle'},
            'lineHeight': 0,
            'vertAlign': {'type': 'max'},
        },
    }]


def button_state(background, picture_color=None, released_text=None):
    bkg = {key: '0xffffffff' for key in (
        'center_bottom', 'center_center', 'center_top',
        'left_bottom', 'left_center', 'left_top',
        'right_bottom', 'right_center', 'right_top')}
    bkg['file'] = IMAGES + background
    bkg['insets'] = {'bottom': 9, 'left': 15, 'right': 15, 'top': 9}
    picture = {
        'file': IMAGES + 'dial_ME_arrowR.png',
        'horzAlign': {'offset': 0, 'type': 'middle'},
        'rect': {'x1': 0, 'x2': 0, 'y1': 0, 'y2': 0},
        'size': {'horz': 0, 'vert': 0},
        'userTexSampler': 0,
        'vertAlign': {'offset': 0, 'type': 'middle'},
    }
    if picture_color is not None:
        picture['color'] = picture_color
    state = {'bkg': bkg, 'picture': picture}
    if released_text is not None:
        state['text'] = released_text
    return state


def released_text(horz_type):
    horz_align = {'offset': 0}
    if horz_type is not None:
        horz_align['type'] = horz_type
    return {
        'font': '',
        'fontSize': 0,
        'horzAlign': horz_align,
        'lineHeight': 0,
        'vertAlign': {'offset': 0},
    }


CAPTION = {
    'params': {
        'angle': 0,
        'bounds': {'h': 16, 'w': 51, 'x': 0, 'y': 2},
        'enabled': True,
        'pivotPoint': {'x': 0, 'y': 0},
        'text': 'QORVEX',
        'tooltip': '',
        'visible': True,
        'zindex': 260,
    },
    'skin': {
        'params': {
            'insets': {'bottom': '0', 'left': '15', 'right': '15', 'top': 0},
            'name': 'staticSkin',
        },
        'states': {
            'disabled': static_state('0xd1d1d180'),
            'released': static_state('0xd1d1d1ff'),
        },
    },
    'type': 'Static',
}

BUTTON = {
    'params': {
        'bounds': {'h': 20, 'w': 50, 'x': 3, 'y': 20},
        'enabled': True,
        'tabOrder': 0,
        'text': 'Undo',
        'tooltip': 'Undo (Ctrl+Z)',
        'visible': True,
        'zindex': 290,
    },
    'skin': {
        'params': {
            'insets': {'bottom': 0, 'left': 0, 'right': 0, 'top': 0},
            'maxSize': {'horz': 44, 'vert': 18},
            'minSize': {'horz': 44, 'vert': 18},
            'name': 'toggleButtonToolbarSkin',
            'textLineHeight': 0,
        },
        'states': {
            'disabled': [button_state('btn_ME_all_released.png', '0xffffff47')],
            'hover': [button_state('btn_ME_all_hover.png', '0xffffffff')],
            'pressed': [button_state('btn_ME_all_released.png'),
                        button_state('btn_ME_all_released.png')],
            'released': [button_state('btn_ME_all_released.png', None, released_text('middle')),
                         button_state('btn_ME_all_released.png', None, released_text(None))],
        },
    },
    'type': 'Button',
}

PANEL = {
    'children': Ordered([('staticQORVEX', CAPTION), ('buttonUndo', BUTTON)]),
    'params': {
        'bounds': {'h': 72, 'w': 56, 'x': 191, 'y': 753},
        'enabled': True,
        'layout': {},
        'text': 'panel0',
        'tooltip': '',
        'visible': True,
        'zindex': 1,
    },
    'skin': {'params': {'name': 'panelSkin'}},
    'type': 'Panel',
}


def scalar(value):
    if value is True:
        return 'true'
    if value is False:
        return 'false'
    if isinstance(value, int):
        return str(value)
    return '"' + value.replace('\\', '\\\\').replace('"', '\\"') + '"'


def emit(lines, depth, key, value):
    indent = '\t' * depth
    head = indent + ('[%d]' % key if isinstance(key, int) else '["%s"]' % key) + ' = '
    if isinstance(value, (dict, list)):
        lines.append(head + '{')
        if isinstance(value, Ordered):
            fields = list(value)
        elif isinstance(value, list):
            fields = [(i + 1, item) for i, item in enumerate(value)]
        else:
            fields = sorted(value.items())
        for child_key, child in fields:
            emit(lines, depth + 1, child_key, child)
        lines.append(indent + '},')
    else:
        lines.append(head + scalar(value) + ',')


def build():
    lines = []
    emit(lines, 2, 'pQORVEX', PANEL)
    return '\n'.join(lines) + '\n'


def main():
    text = build()
    if len(sys.argv) > 1 and sys.argv[1] == '--check':
        with open(BLOCK_PATH, 'r', encoding='ascii', newline='') as f:
            if f.read() != text:
                print('payload/pQORVEX_block.txt is out of date: run payload/tools/build_panel_block.py')
                return 1
        return 0
    with open(BLOCK_PATH, 'w', encoding='ascii', newline='\n') as f:
        f.write(text)
    return 0


if __name__ == '__main__':
    sys.exit(main())
