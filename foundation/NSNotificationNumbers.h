// The one table of notification numbers used with NSUI::NSNotificationCenter. Numbers are plain
// unsigned values compiled into posters and observers; numbers missing here are not assigned.
// Payload fields are those of NSUI::NSNotificationData; a "dictionary" is a flat JSON text in the
// text field (values quoted, numbers written as text). Posts are normal unless marked urgent.
#pragma once

namespace NSUI {

// Toolkit events.
// intValue: progress 0..100; urgent, no sender, context 0
constexpr unsigned int NOTIFY_UI_PROGRESS = 1001;
// text: busy-overlay message
constexpr unsigned int NOTIFY_UI_ACTIVITY_TEXT = 1002;
// busy overlay cancel pressed; urgent, sender the overlay, context 0
constexpr unsigned int NOTIFY_UI_ACTIVITY_CANCEL = 1003;
// text: path of the ".jpg" capture file
constexpr unsigned int NOTIFY_CAPTURE_SAVED = 1004;
constexpr unsigned int NOTIFY_UI_DOWNLOAD_UPDATE = 1005;
constexpr unsigned int NOTIFY_UI_OPEN_URL = 1006;
constexpr unsigned int NOTIFY_FAVORITE_STORED = 1007;

// Library, network, account and application events.
constexpr unsigned int NOTIFY_SERIES_LOADED = 2000;
// an image was stored: JSON text of the study and series, plus the result model
constexpr unsigned int NOTIFY_DB_STUDY_STORED = 2001;
// an image was stored: JSON text of the patient row
constexpr unsigned int NOTIFY_DB_PATIENT_STORED = 2002;
constexpr unsigned int NOTIFY_NET_ECHO_RESULT = 2003;
constexpr unsigned int NOTIFY_NET_RETRIEVE_PROGRESS = 2004;
constexpr unsigned int NOTIFY_NET_RETRIEVE_STATE = 2005;
constexpr unsigned int NOTIFY_NET_RETRIEVE_DONE = 2006;
constexpr unsigned int NOTIFY_NET_RETRIEVE_FAILED = 2007;
constexpr unsigned int NOTIFY_NET_FILE_RECEIVED_END = 2008;
constexpr unsigned int NOTIFY_NET_FIND_RESULT = 2009;
constexpr unsigned int NOTIFY_NET_FIND_FAILED = 2010;
constexpr unsigned int NOTIFY_NET_FIND_STUDY = 2011;
constexpr unsigned int NOTIFY_NET_FIND_SERIES = 2012;
constexpr unsigned int NOTIFY_NET_SEND_PROGRESS = 2013;
constexpr unsigned int NOTIFY_NET_SEND_DONE = 2014;
constexpr unsigned int NOTIFY_NET_SEND_FAILED = 2015;
constexpr unsigned int NOTIFY_NET_TASK_ROW_UPDATE = 2016;
constexpr unsigned int NOTIFY_DB_ADD_IMAGE = 2017;
constexpr unsigned int NOTIFY_DB_SERIES_DELETED = 2018;
constexpr unsigned int NOTIFY_SHARE_ZIP_DONE = 2019;
constexpr unsigned int NOTIFY_NET_PEER_FOUND = 2020;
constexpr unsigned int NOTIFY_THUMBNAIL_READY = 2021;
constexpr unsigned int NOTIFY_IMPORT_PATH = 2025;
constexpr unsigned int NOTIFY_OPEN_FILE = 2026;
constexpr unsigned int NOTIFY_NET_PEER_COUNT = 2027;
constexpr unsigned int NOTIFY_ADVICE_UPDATE_APK = 2028;
constexpr unsigned int NOTIFY_VIEWER_INFO_MENU = 2029;
constexpr unsigned int NOTIFY_VIEWER_CAPTURE = 2030;
constexpr unsigned int NOTIFY_UPDATE_NEW_VERSION = 2032;
constexpr unsigned int NOTIFY_CAPTURE_LIST_CHANGED = 2033;
constexpr unsigned int NOTIFY_ACCOUNT_LOGIN_CHANGED = 2034;
// an image buffer could not be made
constexpr unsigned int NOTIFY_MEMORY_LOW = 2035;
constexpr unsigned int NOTIFY_DB_PATIENT_DELETED = 2036;
// the library's database opened late or was made anew: lists of it load again
constexpr unsigned int NOTIFY_DB_LIBRARY_RELOADED = 2037;

// Viewer commands and viewer events.
constexpr unsigned int NOTIFY_SLICE_NEXT = 9001;
constexpr unsigned int NOTIFY_SLICE_PRIOR = 9002;
constexpr unsigned int NOTIFY_SLICE_MIDDLE = 9003;
constexpr unsigned int NOTIFY_SLICE_SET = 9005;
constexpr unsigned int NOTIFY_IMAGE_SET_MODE = 9006;
// floatValue: slab thickness to add, in mm
constexpr unsigned int NOTIFY_SLAB_THICKNESS_ADD = 9007;
// floatValue: rotation of the cut plane, in degrees
constexpr unsigned int NOTIFY_VIEW_ANGLE = 9008;
constexpr unsigned int NOTIFY_VIEW_OBLIQUE = 9009;
constexpr unsigned int NOTIFY_VIEW_AXIAL = 9010;
constexpr unsigned int NOTIFY_VIEW_SAGITTAL = 9011;
constexpr unsigned int NOTIFY_VIEW_CORONAL = 9012;
constexpr unsigned int NOTIFY_VIEW_FORWARD_ACTIVE = 9013;
constexpr unsigned int NOTIFY_VIEW_VR = 9014;
constexpr unsigned int NOTIFY_VIEW_MIP = 9015;
constexpr unsigned int NOTIFY_VIEW_ORIGINAL = 9016;
constexpr unsigned int NOTIFY_VIEW_REFRESH = 9017;
constexpr unsigned int NOTIFY_LAYOUT_1X1 = 9018;
constexpr unsigned int NOTIFY_LAYOUT_1X2 = 9019;
constexpr unsigned int NOTIFY_LAYOUT_2X1 = 9020;
constexpr unsigned int NOTIFY_LAYOUT_2X2 = 9021;
constexpr unsigned int NOTIFY_WL_DEFAULT = 9022;
constexpr unsigned int NOTIFY_WL_INPUT = 9023;
constexpr unsigned int NOTIFY_WL_EDITED = 9024;
constexpr unsigned int NOTIFY_WL_DEFAULT_LINKED = 9025;
constexpr unsigned int NOTIFY_WL_FUNC_LINEAR = 9026;
constexpr unsigned int NOTIFY_WL_FUNC_LOG10 = 9027;
constexpr unsigned int NOTIFY_WL_FUNC_LOG10_INVERSE = 9028;
constexpr unsigned int NOTIFY_WL_SET = 9029;
constexpr unsigned int NOTIFY_CLUT_SET = 9030;
constexpr unsigned int NOTIFY_CAPTURE_WHOLE_SCREEN = 9031;
constexpr unsigned int NOTIFY_CAPTURE_ALL_IMAGES = 9032;
constexpr unsigned int NOTIFY_CAPTURE_CURRENT_VIEW = 9033;
constexpr unsigned int NOTIFY_TOOL_SELECT = 9034;
constexpr unsigned int NOTIFY_TOOL_WINDOW_LEVEL = 9035;
constexpr unsigned int NOTIFY_TOOL_ZOOM = 9036;
constexpr unsigned int NOTIFY_TOOL_PAN = 9037;
constexpr unsigned int NOTIFY_TOOL_ROTATE = 9038;
constexpr unsigned int NOTIFY_TOOL_LOCATE = 9039;
constexpr unsigned int NOTIFY_TOOL_ROI_LINE = 9040;
constexpr unsigned int NOTIFY_TOOL_ROI_POINT = 9041;
constexpr unsigned int NOTIFY_TOOL_ROI_ANGLE = 9042;
constexpr unsigned int NOTIFY_TOOL_ROI_CIRCLE = 9043;
constexpr unsigned int NOTIFY_TOOL_ROI_POLYGON = 9044;
constexpr unsigned int NOTIFY_ROI_REMOVE = 9045;
constexpr unsigned int NOTIFY_FRAME_PLAY_TOGGLE = 9046;
// intValue: 1 playing, 0 stopped; context the render window; urgent
constexpr unsigned int NOTIFY_FRAME_PLAY_STATE = 9047;
constexpr unsigned int NOTIFY_FRAME_PRIOR = 9048;
constexpr unsigned int NOTIFY_FRAME_NEXT = 9049;
// intValue: 1 when the image has more than one frame; context the render window; urgent
constexpr unsigned int NOTIFY_FRAME_PLAY_BUTTON_VISIBLE = 9050;
constexpr unsigned int NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE = 9051;
constexpr unsigned int NOTIFY_FRAME_NEXT_BUTTON_VISIBLE = 9052;
constexpr unsigned int NOTIFY_CINE_PLAY_TOGGLE = 9053;
constexpr unsigned int NOTIFY_CINE_PRIOR = 9054;
constexpr unsigned int NOTIFY_CINE_NEXT = 9055;
constexpr unsigned int NOTIFY_CINE_STATE = 9056;
constexpr unsigned int NOTIFY_VR_ORIENT = 9057;
constexpr unsigned int NOTIFY_DCMINFO_HIDE = 9058;
constexpr unsigned int NOTIFY_DCMINFO_SHOW = 9059;
constexpr unsigned int NOTIFY_DCMINFO_LIST = 9060;
constexpr unsigned int NOTIFY_VIEW_PAN = 9061;
constexpr unsigned int NOTIFY_VIEW_ZOOM = 9062;
constexpr unsigned int NOTIFY_VIEW_ZOOM_WHEEL = 9063;
constexpr unsigned int NOTIFY_VIEW_WINDOW_LEVEL = 9064;
constexpr unsigned int NOTIFY_VIEW_PAN_END = 9065;
constexpr unsigned int NOTIFY_VIEW_ZOOM_END = 9066;
constexpr unsigned int NOTIFY_VIEW_WINDOW_LEVEL_END = 9067;
constexpr unsigned int NOTIFY_VIEW_INTERACTION_END = 9068;
// dictionary "t", "r", "b", "l"
constexpr unsigned int NOTIFY_OVERLAY_ORIENTATION = 9070;
// dictionary "x", "y", "z"
constexpr unsigned int NOTIFY_OVERLAY_POSITION = 9071;
// dictionary "ww", "wl"
constexpr unsigned int NOTIFY_OVERLAY_WINDOW = 9072;
// dictionary "index" (from 1), "count"
constexpr unsigned int NOTIFY_OVERLAY_SLICE_INDEX = 9073;
// text: plane name
constexpr unsigned int NOTIFY_OVERLAY_PLANE_NAME = 9074;
constexpr unsigned int NOTIFY_OVERLAY_STUDY_ID = 9075;
constexpr unsigned int NOTIFY_OVERLAY_SERIES_ID = 9076;
// text such as "S:%.1fmm"
constexpr unsigned int NOTIFY_OVERLAY_SLICE_POSITION = 9077;
// floatValue: slab thickness
constexpr unsigned int NOTIFY_OVERLAY_THICKNESS = 9078;
constexpr unsigned int NOTIFY_OVERLAY_HOSPITAL = 9079;
constexpr unsigned int NOTIFY_OVERLAY_SERIES_TIME = 9080;
constexpr unsigned int NOTIFY_OVERLAY_PATIENT = 9081;
constexpr unsigned int NOTIFY_OVERLAY_PATIENT_INFO = 9082;
constexpr unsigned int NOTIFY_OVERLAY_IMAGE_DESC = 9083;
// dictionary of the corner overlay fields
constexpr unsigned int NOTIFY_OVERLAY_INFO_READY = 9084;
constexpr unsigned int NOTIFY_LOCATE_POINT = 9085;
constexpr unsigned int NOTIFY_LOCATE_POINT_FORWARD = 9086;
// dictionary "nx1".."nz3", "x", "y", "z"
constexpr unsigned int NOTIFY_OBLIQUE_PLANE = 9087;
constexpr unsigned int NOTIFY_CROSSLINE_SHOW = 9088;
constexpr unsigned int NOTIFY_VIEW_CHANGED = 9089;
constexpr unsigned int NOTIFY_RENDER_WINDOW_UPDATED = 9091;
constexpr unsigned int NOTIFY_TEXT_NODE_MOVED = 9092;
// dictionary "index" (from 1); urgent
constexpr unsigned int NOTIFY_IMAGE_SLICE_CHANGED = 9093;
// dictionary "orient" (plane axis + 1); urgent
constexpr unsigned int NOTIFY_IMAGE_ORIENT_CHANGED = 9094;
constexpr unsigned int NOTIFY_ROI_CHANGED = 9095;
constexpr unsigned int NOTIFY_VIEW_ACTIVATE = 9096;
constexpr unsigned int NOTIFY_VIEW_ACTIVATED = 9097;
constexpr unsigned int NOTIFY_WINDOW_RESIZED = 9098;
constexpr unsigned int NOTIFY_VIEWER_CLOSED = 9099;
constexpr unsigned int NOTIFY_WINDOW_MAXIMIZE = 9100;
constexpr unsigned int NOTIFY_WINDOW_MAXIMIZED = 9101;
constexpr unsigned int NOTIFY_WINDOW_LINK = 9102;
constexpr unsigned int NOTIFY_FAVORITE_ADD_VIEW = 9103;
constexpr unsigned int NOTIFY_FAVORITE_SAVE_IMAGE = 9104;
constexpr unsigned int NOTIFY_FAVORITE_ADD_FILE = 9105;
constexpr unsigned int NOTIFY_BROWSER_HIDE_CONTROLS = 9106;
// intValue2: folded hash of the slice file path; context the waiting image actor; urgent
constexpr unsigned int NOTIFY_SLICE_LOADED = 9109;
// floatValue: fraction loaded; intValue2: folded hash of the series key; urgent
constexpr unsigned int NOTIFY_LOAD_PROGRESS = 9110;
// floatValue: fraction of the shown series loaded; context the window; urgent
constexpr unsigned int NOTIFY_OVERLAY_PROGRESS = 9111;
// The corner overlay row of the image viewer binds 9111 under this name; it shows the loading
// progress, the only thing posted under 9111.
constexpr unsigned int NOTIFY_OVERLAY_ZOOM = NOTIFY_OVERLAY_PROGRESS;
constexpr unsigned int NOTIFY_VOLUME_LOADED = 9112;
constexpr unsigned int NOTIFY_ACTIVE_VIEW_CHANGED = 9113;
constexpr unsigned int NOTIFY_VIEW_MODE = 9114;
// never posted: the number of static overlay labels
constexpr unsigned int NOTIFY_NONE = 9115;

}  // namespace NSUI

// The same names at global scope, for code outside the toolkit's namespace.
using NSUI::NOTIFY_UI_PROGRESS;
using NSUI::NOTIFY_UI_ACTIVITY_TEXT;
using NSUI::NOTIFY_UI_ACTIVITY_CANCEL;
using NSUI::NOTIFY_CAPTURE_SAVED;
using NSUI::NOTIFY_UI_DOWNLOAD_UPDATE;
using NSUI::NOTIFY_UI_OPEN_URL;
using NSUI::NOTIFY_FAVORITE_STORED;
using NSUI::NOTIFY_SERIES_LOADED;
using NSUI::NOTIFY_DB_STUDY_STORED;
using NSUI::NOTIFY_DB_PATIENT_STORED;
using NSUI::NOTIFY_NET_ECHO_RESULT;
using NSUI::NOTIFY_NET_RETRIEVE_PROGRESS;
using NSUI::NOTIFY_NET_RETRIEVE_STATE;
using NSUI::NOTIFY_NET_RETRIEVE_DONE;
using NSUI::NOTIFY_NET_RETRIEVE_FAILED;
using NSUI::NOTIFY_NET_FILE_RECEIVED_END;
using NSUI::NOTIFY_NET_FIND_RESULT;
using NSUI::NOTIFY_NET_FIND_FAILED;
using NSUI::NOTIFY_NET_FIND_STUDY;
using NSUI::NOTIFY_NET_FIND_SERIES;
using NSUI::NOTIFY_NET_SEND_PROGRESS;
using NSUI::NOTIFY_NET_SEND_DONE;
using NSUI::NOTIFY_NET_SEND_FAILED;
using NSUI::NOTIFY_NET_TASK_ROW_UPDATE;
using NSUI::NOTIFY_DB_ADD_IMAGE;
using NSUI::NOTIFY_DB_SERIES_DELETED;
using NSUI::NOTIFY_SHARE_ZIP_DONE;
using NSUI::NOTIFY_NET_PEER_FOUND;
using NSUI::NOTIFY_THUMBNAIL_READY;
using NSUI::NOTIFY_IMPORT_PATH;
using NSUI::NOTIFY_OPEN_FILE;
using NSUI::NOTIFY_NET_PEER_COUNT;
using NSUI::NOTIFY_ADVICE_UPDATE_APK;
using NSUI::NOTIFY_VIEWER_INFO_MENU;
using NSUI::NOTIFY_VIEWER_CAPTURE;
using NSUI::NOTIFY_UPDATE_NEW_VERSION;
using NSUI::NOTIFY_CAPTURE_LIST_CHANGED;
using NSUI::NOTIFY_ACCOUNT_LOGIN_CHANGED;
using NSUI::NOTIFY_MEMORY_LOW;
using NSUI::NOTIFY_DB_PATIENT_DELETED;
using NSUI::NOTIFY_SLICE_NEXT;
using NSUI::NOTIFY_SLICE_PRIOR;
using NSUI::NOTIFY_SLICE_MIDDLE;
using NSUI::NOTIFY_SLICE_SET;
using NSUI::NOTIFY_IMAGE_SET_MODE;
using NSUI::NOTIFY_SLAB_THICKNESS_ADD;
using NSUI::NOTIFY_VIEW_ANGLE;
using NSUI::NOTIFY_VIEW_OBLIQUE;
using NSUI::NOTIFY_VIEW_AXIAL;
using NSUI::NOTIFY_VIEW_SAGITTAL;
using NSUI::NOTIFY_VIEW_CORONAL;
using NSUI::NOTIFY_VIEW_FORWARD_ACTIVE;
using NSUI::NOTIFY_VIEW_VR;
using NSUI::NOTIFY_VIEW_MIP;
using NSUI::NOTIFY_VIEW_ORIGINAL;
using NSUI::NOTIFY_VIEW_REFRESH;
using NSUI::NOTIFY_LAYOUT_1X1;
using NSUI::NOTIFY_LAYOUT_1X2;
using NSUI::NOTIFY_LAYOUT_2X1;
using NSUI::NOTIFY_LAYOUT_2X2;
using NSUI::NOTIFY_WL_DEFAULT;
using NSUI::NOTIFY_WL_INPUT;
using NSUI::NOTIFY_WL_EDITED;
using NSUI::NOTIFY_WL_DEFAULT_LINKED;
using NSUI::NOTIFY_WL_FUNC_LINEAR;
using NSUI::NOTIFY_WL_FUNC_LOG10;
using NSUI::NOTIFY_WL_FUNC_LOG10_INVERSE;
using NSUI::NOTIFY_WL_SET;
using NSUI::NOTIFY_CLUT_SET;
using NSUI::NOTIFY_CAPTURE_WHOLE_SCREEN;
using NSUI::NOTIFY_CAPTURE_ALL_IMAGES;
using NSUI::NOTIFY_CAPTURE_CURRENT_VIEW;
using NSUI::NOTIFY_TOOL_SELECT;
using NSUI::NOTIFY_TOOL_WINDOW_LEVEL;
using NSUI::NOTIFY_TOOL_ZOOM;
using NSUI::NOTIFY_TOOL_PAN;
using NSUI::NOTIFY_TOOL_ROTATE;
using NSUI::NOTIFY_TOOL_LOCATE;
using NSUI::NOTIFY_TOOL_ROI_LINE;
using NSUI::NOTIFY_TOOL_ROI_POINT;
using NSUI::NOTIFY_TOOL_ROI_ANGLE;
using NSUI::NOTIFY_TOOL_ROI_CIRCLE;
using NSUI::NOTIFY_TOOL_ROI_POLYGON;
using NSUI::NOTIFY_ROI_REMOVE;
using NSUI::NOTIFY_FRAME_PLAY_TOGGLE;
using NSUI::NOTIFY_FRAME_PLAY_STATE;
using NSUI::NOTIFY_FRAME_PRIOR;
using NSUI::NOTIFY_FRAME_NEXT;
using NSUI::NOTIFY_FRAME_PLAY_BUTTON_VISIBLE;
using NSUI::NOTIFY_FRAME_PRIOR_BUTTON_VISIBLE;
using NSUI::NOTIFY_FRAME_NEXT_BUTTON_VISIBLE;
using NSUI::NOTIFY_CINE_PLAY_TOGGLE;
using NSUI::NOTIFY_CINE_PRIOR;
using NSUI::NOTIFY_CINE_NEXT;
using NSUI::NOTIFY_CINE_STATE;
using NSUI::NOTIFY_VR_ORIENT;
using NSUI::NOTIFY_DCMINFO_HIDE;
using NSUI::NOTIFY_DCMINFO_SHOW;
using NSUI::NOTIFY_DCMINFO_LIST;
using NSUI::NOTIFY_VIEW_PAN;
using NSUI::NOTIFY_VIEW_ZOOM;
using NSUI::NOTIFY_VIEW_ZOOM_WHEEL;
using NSUI::NOTIFY_VIEW_WINDOW_LEVEL;
using NSUI::NOTIFY_VIEW_PAN_END;
using NSUI::NOTIFY_VIEW_ZOOM_END;
using NSUI::NOTIFY_VIEW_WINDOW_LEVEL_END;
using NSUI::NOTIFY_VIEW_INTERACTION_END;
using NSUI::NOTIFY_OVERLAY_ORIENTATION;
using NSUI::NOTIFY_OVERLAY_POSITION;
using NSUI::NOTIFY_OVERLAY_WINDOW;
using NSUI::NOTIFY_OVERLAY_SLICE_INDEX;
using NSUI::NOTIFY_OVERLAY_PLANE_NAME;
using NSUI::NOTIFY_OVERLAY_STUDY_ID;
using NSUI::NOTIFY_OVERLAY_SERIES_ID;
using NSUI::NOTIFY_OVERLAY_SLICE_POSITION;
using NSUI::NOTIFY_OVERLAY_THICKNESS;
using NSUI::NOTIFY_OVERLAY_HOSPITAL;
using NSUI::NOTIFY_OVERLAY_SERIES_TIME;
using NSUI::NOTIFY_OVERLAY_PATIENT;
using NSUI::NOTIFY_OVERLAY_PATIENT_INFO;
using NSUI::NOTIFY_OVERLAY_IMAGE_DESC;
using NSUI::NOTIFY_OVERLAY_INFO_READY;
using NSUI::NOTIFY_LOCATE_POINT;
using NSUI::NOTIFY_LOCATE_POINT_FORWARD;
using NSUI::NOTIFY_OBLIQUE_PLANE;
using NSUI::NOTIFY_CROSSLINE_SHOW;
using NSUI::NOTIFY_VIEW_CHANGED;
using NSUI::NOTIFY_RENDER_WINDOW_UPDATED;
using NSUI::NOTIFY_TEXT_NODE_MOVED;
using NSUI::NOTIFY_IMAGE_SLICE_CHANGED;
using NSUI::NOTIFY_IMAGE_ORIENT_CHANGED;
using NSUI::NOTIFY_ROI_CHANGED;
using NSUI::NOTIFY_VIEW_ACTIVATE;
using NSUI::NOTIFY_VIEW_ACTIVATED;
using NSUI::NOTIFY_WINDOW_RESIZED;
using NSUI::NOTIFY_VIEWER_CLOSED;
using NSUI::NOTIFY_WINDOW_MAXIMIZE;
using NSUI::NOTIFY_WINDOW_MAXIMIZED;
using NSUI::NOTIFY_WINDOW_LINK;
using NSUI::NOTIFY_FAVORITE_ADD_VIEW;
using NSUI::NOTIFY_FAVORITE_SAVE_IMAGE;
using NSUI::NOTIFY_FAVORITE_ADD_FILE;
using NSUI::NOTIFY_BROWSER_HIDE_CONTROLS;
using NSUI::NOTIFY_SLICE_LOADED;
using NSUI::NOTIFY_LOAD_PROGRESS;
using NSUI::NOTIFY_OVERLAY_PROGRESS;
using NSUI::NOTIFY_OVERLAY_ZOOM;
using NSUI::NOTIFY_VOLUME_LOADED;
using NSUI::NOTIFY_ACTIVE_VIEW_CHANGED;
using NSUI::NOTIFY_VIEW_MODE;
using NSUI::NOTIFY_NONE;
