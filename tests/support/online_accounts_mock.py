# SPDX-License-Identifier: GPL-3.0-or-later
'''python3-dbusmock template: the desktop's online accounts service (org.gnome.OnlineAccounts) on a test's private
session bus. It starts empty; the test adds accounts through the Mock interface below, as the desktop's settings
would, and changes them (a new token, expired credentials, removal).'''

import dbus

from dbusmock import MOCK_IFACE
from dbusmock.mockobject import objects

BUS_NAME = 'org.gnome.OnlineAccounts'
MAIN_OBJ = '/org/gnome/OnlineAccounts'
IS_OBJECT_MANAGER = True
SYSTEM_BUS = False

ACCOUNTS = '/org/gnome/OnlineAccounts/Accounts/'
ACCOUNT_IFACE = 'org.gnome.OnlineAccounts.Account'
MAIL_IFACE = 'org.gnome.OnlineAccounts.Mail'
OAUTH2_IFACE = 'org.gnome.OnlineAccounts.OAuth2Based'
PASSWORD_IFACE = 'org.gnome.OnlineAccounts.PasswordBased'

# The service's answer for credentials the provider no longer takes; a delay makes a service that answers late.
GET_ACCESS_TOKEN = '''
import time
time.sleep(self.token_delay)
if self.not_authorized:
    raise dbus.exceptions.DBusException('Failed to refresh the access token (invalid_grant)',
                                        name='org.gnome.OnlineAccounts.Error.NotAuthorized')
ret = (self.access_token, dbus.Int32(self.expires_in))
'''


def load(mock, parameters):
    pass


def account_path(account_id):
    return ACCOUNTS + account_id


@dbus.service.method(MOCK_IFACE, in_signature='sssss', out_signature='o')
def AddMailAccount(self, account_id, provider, identity, imap_host, imap_user):
    '''An OAuth2 account with mail, TLS from the first byte, as the desktop adds a Google one.'''
    path = account_path(account_id)
    self.AddObject(path, ACCOUNT_IFACE, {
        'Id': account_id, 'ProviderType': provider.lower(), 'ProviderName': provider,
        'PresentationIdentity': identity, 'Identity': identity,
        'MailDisabled': False, 'AttentionNeeded': False,
    }, [('EnsureCredentials', '', 'i', 'ret = 3600')])
    account = objects[path]
    account.AddProperties(MAIL_IFACE, dbus.Dictionary({
        'EmailAddress': identity, 'ImapSupported': True, 'ImapHost': imap_host, 'ImapUserName': imap_user,
        'ImapUseSsl': True, 'ImapUseTls': False, 'ImapAcceptSslErrors': False,
    }, signature='sv'))
    account.AddProperties(OAUTH2_IFACE, dbus.Dictionary({'ClientId': 'goa-client', 'ClientSecret': ''},
                                                        signature='sv'))
    account.access_token = ''
    account.expires_in = 3600
    account.not_authorized = False
    account.token_delay = 0.0
    account.AddMethod(OAUTH2_IFACE, 'GetAccessToken', '', 'si', GET_ACCESS_TOKEN)
    return path


@dbus.service.method(MOCK_IFACE, in_signature='ss', out_signature='o')
def AddOtherAccount(self, account_id, kind):
    '''An account kd5lite cannot read: "password" (mail with a password, no OAuth2), "mail-off" (OAuth2, mail
    switched off), "no-imap" (OAuth2 mail without IMAP) or "calendar" (OAuth2 without mail).'''
    path = account_path(account_id)
    self.AddObject(path, ACCOUNT_IFACE, {
        'Id': account_id, 'ProviderName': kind, 'PresentationIdentity': kind + '@example.com',
        'MailDisabled': kind == 'mail-off', 'AttentionNeeded': False,
    }, [])
    account = objects[path]
    if kind != 'calendar':
        account.AddProperties(MAIL_IFACE, dbus.Dictionary({
            'EmailAddress': kind + '@example.com', 'ImapSupported': kind != 'no-imap',
            'ImapHost': 'imap.example.com', 'ImapUserName': kind, 'ImapUseSsl': True, 'ImapUseTls': False,
        }, signature='sv'))
    if kind == 'password':
        account.AddMethod(PASSWORD_IFACE, 'GetPassword', 's', 's', 'ret = "secret"')
        account.props.setdefault(PASSWORD_IFACE, {})
    else:
        account.AddProperties(OAUTH2_IFACE, dbus.Dictionary({'ClientId': 'goa-client'}, signature='sv'))
    return path


@dbus.service.method(MOCK_IFACE, in_signature='ssi', out_signature='')
def SetAccessToken(self, account_id, token, expires_in):
    '''The token the account hands out from now on.'''
    account = objects[account_path(account_id)]
    account.access_token = token
    account.expires_in = expires_in


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def ExpireCredentials(self, account_id):
    '''The provider no longer takes the account's credentials: the desktop wants them entered again.'''
    account = objects[account_path(account_id)]
    account.not_authorized = True
    account.props[ACCOUNT_IFACE]['AttentionNeeded'] = True


@dbus.service.method(MOCK_IFACE, in_signature='sd', out_signature='')
def DelayToken(self, account_id, seconds):
    '''GetAccessToken answers only after this many seconds (a provider that does not answer).'''
    objects[account_path(account_id)].token_delay = seconds


@dbus.service.method(MOCK_IFACE, in_signature='s', out_signature='')
def RemoveAccount(self, account_id):
    '''The user removed the account in the desktop's settings.'''
    self.RemoveObject(account_path(account_id))
